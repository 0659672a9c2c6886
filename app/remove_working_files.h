#pragma once

namespace qv {

struct JobState;

// Deletes every working file of the job that exists, ignoring files that cannot be deleted:
// the merged image when the job came from a download file and a Start of the job wrote it
// (it was only the converter's input), the four converted and compressed images, the working-file
// set, httpcfg.ini, and the logo pictures and stills. A file the user picked in this job is never
// deleted, even when it sits in the working directory under a working-file name.
void RemoveWorkingFiles(const JobState& job);

}  // namespace qv
