// What the tests of moves on NTFS images ask of the services, as the move
// engine asks it: a stream's runs, the volume's bitmap and a free stretch
// in it, one move; and a named stream added to a built image.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux/fs_control_replies.h"
#include "platform/system_services.h"
#include "tools/ntfs_image_builder.h"

// The runs FSCTL_GET_RETRIEVAL_POINTERS gives for file, read in replies of
// a few extents; none when it fails (*status, when given, says how).
std::vector<TStreamRun> RunsThrough(TSystemServices& services, THandle file,
                                    TNtStatus* status = nullptr);

// The whole cluster bitmap FSCTL_GET_VOLUME_BITMAP gives for volume, bit
// per cluster; the volume's clusters into *clusters.
std::vector<uint8_t> BitmapThrough(TSystemServices& services, THandle volume, int64_t* clusters);

// The first cluster from fromLcn on that starts `count` free clusters in
// bitmap; -1 when there is none.
int64_t FreeStretch(const std::vector<uint8_t>& bitmap, int64_t clusters, int64_t count,
                    int64_t fromLcn);

// FSCTL_MOVE_FILE on volume for file's clusters [vcn, vcn + count) to lcn.
TNtStatus MoveThrough(TSystemServices& services, THandle volume, THandle file, int64_t vcn,
                      int64_t lcn, uint32_t count);

// Adds the named data stream `name` holding content to the file at path
// of the image, through libntfs-3g.
TBuildStatus AddNamedStream(const std::string& image, const std::string& path,
                            const std::string& name, const TContent& content);

// Runs command under /bin/sh in a process group of its own and kills the
// group with SIGKILL after `microseconds`, then waits for it: a run of the
// program cut off at that moment.
void RunAndKillAfter(const std::string& command, int64_t microseconds);

// The shell command that runs the program headless in folder, with
// arguments, the caller's display and drive mappings cleared.
std::string ProgramCommand(const std::string& folder, const std::string& arguments);

// Clusters of runs, holes left out.
int64_t AllocatedClusters(const std::vector<TStreamRun>& runs);

// How GoogleTest prints a run in a failure message.
inline void PrintTo(const TStreamRun& run, std::ostream* out) {
  *out << "{vcn " << run.vcn << ", lcn " << run.lcn << ", " << run.length << " clusters}";
}
