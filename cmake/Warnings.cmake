# Warnings are errors in the project's own code; third-party code (GoogleTest)
# is built without them.
function(quorvane_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wsign-conversion -Werror)
  endif()
endfunction()

# The program and its stand-in library need nothing but Windows' own DLLs.
# Each function and datum has a section of its own, so that the linker drops
# whatever nothing refers to, most of the static C++ runtime among it.
function(quorvane_static_windows target)
  if(MINGW)
    target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                        -Wl,--gc-sections $<$<CONFIG:Release>:-s>)
  endif()
endfunction()

# Product code has no exceptions and no run-time type information; building
# without them keeps the unwinding machinery, the type descriptors and the
# terminate handler of the C++ runtime out of the program.
function(quorvane_product target)
  quorvane_warnings(${target})
  if(MSVC)
    target_compile_options(${target} PRIVATE /GR-)
  else()
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -ffunction-sections
                                             -fdata-sections)
  endif()
endfunction()
