// BindTunerLibrary, run by a probe program in folders laid out for each case:
// the library is loaded by its bare name, so every case needs a process of
// its own whose folder and current directory are chosen here.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/tuner/tuner_test_support.h"

namespace {

using tuner_test::BindProbePath;
using tuner_test::RunProgram;
using tuner_test::ScratchFolder;

constexpr const char* kProbe = "bind_probe.exe";
constexpr const char* kLibrary = "QuorvaneControl.dll";

std::string CopyInto(const std::string& source, const std::string& folder, const char* name) {
  const std::string target = folder + "\\" + name;
  EXPECT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << " -> " << target;
  return target;
}

TEST(TunerBinding, BindsTheFullLibraryBesideTheProgram) {
  ScratchFolder scratch;
  const std::string app = scratch.Folder("app");
  const std::string probe = CopyInto(BindProbePath(), app, kProbe);
  CopyInto(tuner_test::StandinPath(), app, kLibrary);
  EXPECT_EQ(RunProgram(probe, scratch.Folder("elsewhere")), 0);
}

TEST(TunerBinding, RefusesALibraryLackingAnEntryPoint) {
  ScratchFolder scratch;
  const std::string app = scratch.Folder("app");
  const std::string probe = CopyInto(BindProbePath(), app, kProbe);
  CopyInto(tuner_test::LackingStandinPath(), app, kLibrary);
  EXPECT_EQ(RunProgram(probe, app), 1);
}

TEST(TunerBinding, FailsWithoutALibrary) {
  ScratchFolder scratch;
  const std::string app = scratch.Folder("app");
  const std::string probe = CopyInto(BindProbePath(), app, kProbe);
  EXPECT_EQ(RunProgram(probe, app), 1);
}

TEST(TunerBinding, IgnoresALibraryPlantedInTheCurrentDirectory) {
  ScratchFolder scratch;
  const std::string app = scratch.Folder("app");
  const std::string planted = scratch.Folder("planted");
  const std::string probe = CopyInto(BindProbePath(), app, kProbe);
  CopyInto(tuner_test::StandinPath(), planted, kLibrary);
  EXPECT_EQ(RunProgram(probe, planted), 1);
}

}  // namespace
