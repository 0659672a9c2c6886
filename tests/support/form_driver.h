#pragma once

#include <string>
#include <vector>

#include "app/form_main.h"
#include "app/job.h"
#include "sample/image_builder.h"
#include "tests/support/fake_ui.h"
#include "tests/support/temp_dir.h"

namespace qv::testing {

// The form model over a real job, driven as a user of the window drives it: the open dialog
// answered from the driver's calls, every message box recorded. Inputs are written into a
// directory of the driver's, which is where the window puts the outputs of an image opened from
// it; the job directories are made in another.
class FormDriver {
 public:
  FormDriver();

  TFormMain& form() { return form_; }
  Job& job() { return job_; }
  FakeUi& ui() { return ui_; }

  // The path of a name in the current job's directory, in the inputs' directory, and in the
  // directory that holds the job directories. With no job open there is no job directory: the
  // name alone would be a file in the current directory, so this throws instead.
  std::string Work(const std::string& name) const;
  std::string Input(const std::string& name) const { return inputs_.File(name); }
  // Where Start puts its outputs for an image the driver wrote: beside it.
  std::string Output(const std::string& name) const { return inputs_.File(name); }
  const std::string& inputs() const { return inputs_.path(); }
  const std::string& job_directories() const { return jobs_.path(); }

  // Writes bytes as an input file and returns its path.
  std::string WriteInput(const std::string& name, const std::vector<uint8_t>& bytes) const;
  // Writes the image of `spec` as an input: a download file when the name ends in .dld.
  std::string WriteImage(const sample::ImageSpec& spec, const std::string& name) const;
  // A 720 x 576-style picture of the given size as a .bmp or .jpg input.
  std::string WritePicture(const std::string& name, int width, int height) const;

  // Clicks SB_OpenFile and answers the dialog with `path`.
  void Open(const std::string& path);
  // Clicks a logo's, the database's or the key's button and answers the dialog with `path`;
  // the texts of the messages shown.
  std::vector<std::string> Choose(Button& button, const std::string& path);
  // Clicks Start; the texts of the messages shown.
  std::vector<std::string> Start();

 private:
  TempDir jobs_;
  TempDir inputs_;
  FakeUi ui_;
  Job job_;
  TFormMain form_;
};

}  // namespace qv::testing
