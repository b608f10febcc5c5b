#pragma once
// A main window core whose export dialogs a script answers, in a folder of its own; the
// working folder is put back when the test ends.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/main_form.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

namespace qm::test {

class ExportTest : public testing::Test {
 protected:
  ExportTest() : previousDirectory(std::filesystem::current_path()) {
    TForm1Environment environment;
    environment.ProgramPath = dir.File("qmharvest");
    environment.LocalAddress = [] { return std::string("192.0.2.1"); };
    form = std::make_unique<TForm1>(dialogs, std::move(environment));
  }
  ~ExportTest() override {
    form.reset();
    std::filesystem::current_path(previousDirectory);
  }

  std::filesystem::path previousDirectory;
  TempDir dir;
  ScriptedDialogs dialogs;
  std::unique_ptr<TForm1> form;
};

}  // namespace qm::test
