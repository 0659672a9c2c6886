#include "tests/support/form_driver.h"

#include <stdexcept>

#include "app/image_file.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {

namespace {

JobOptions OptionsFor(const std::string& job_directories) {
  JobOptions options;
  options.job_directory_parent = job_directories;
  return options;
}

}  // namespace

FormDriver::FormDriver() : job_(OptionsFor(jobs_.path())), form_(ui_, job_) {
  form_.FormCreate(nullptr);
}

std::string FormDriver::Work(const std::string& name) const {
  if (job_.working_directory().empty())
    throw std::logic_error("no job is open, so there is no job directory for " + name);
  return job_.working_directory() + name;
}

std::string FormDriver::WriteInput(const std::string& name,
                                   const std::vector<uint8_t>& bytes) const {
  const std::string path = Input(name);
  WriteWholeFile(path, bytes);
  return path;
}

std::string FormDriver::WriteImage(const sample::ImageSpec& spec, const std::string& name) const {
  std::vector<uint8_t> bytes = sample::BuildFlashImage(spec);
  if (IsDownloadFileName(name)) bytes = sample::BuildDownload(bytes, sample::DownloadSpecFor(spec));
  return WriteInput(name, bytes);
}

std::string FormDriver::WritePicture(const std::string& name, int width, int height) const {
  Bitmap picture = MakePicture(PictureKind::kFlatLogo, width, height);
  const std::string path = Input(name);
  if (name.ends_with(".bmp")) {
    SaveBitmap(picture, path);
  } else {
    WriteJpeg(picture, path);
  }
  return path;
}

void FormDriver::Open(const std::string& path) {
  ui_.answers.push_back(path);
  form_.SB_OpenFileClick(&form_.SB_OpenFile);
}

std::vector<std::string> FormDriver::Choose(Button& button, const std::string& path) {
  ui_.answers.push_back(path);
  if (&button == &form_.SB_Default || &button == &form_.SB_Key) {
    form_.SB_DefaultClick(&button);
  } else {
    form_.SB_BootClick(&button);
  }
  return ui_.TakeMessages();
}

std::vector<std::string> FormDriver::Start() {
  form_.SB_StartClick(&form_.SB_Start);
  return ui_.TakeMessages();
}

}  // namespace qv::testing
