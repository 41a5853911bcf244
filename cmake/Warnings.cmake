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
function(quorvane_static_windows target)
  if(MINGW)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++
                        $<$<CONFIG:Release>:-s>)
  endif()
endfunction()

# Product code has no exceptions; building without them keeps the unwinding
# machinery of the C++ runtime out of the program.
function(quorvane_product target)
  quorvane_warnings(${target})
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -fno-exceptions)
  endif()
endfunction()
