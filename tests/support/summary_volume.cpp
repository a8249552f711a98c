#include "tests/support/summary_volume.h"

#include <utility>

#include "tests/support/scripted_volume.h"

void PopulateSummaryVolume(TScriptedVolume& volume) {
  volume.bitmap.assign(200000, false);
  // Runs as {next vcn, lcn}.
  volume.AddFile("D:\\one.txt", 40960, {{10, 100}});
  volume.AddFile("D:\\three.avi", 36864, {{3, 200}, {5, 300}, {9, 400}});
  volume.AddFolder("D:\\docs");
  volume.AddFile("D:\\docs\\big.iso", 32768, {{2, 1000}, {4, 1003}, {6, 1006}, {8, 1009}});
  volume.AddFile("D:\\docs\\far.log", 16384, {{2, 150000}, {4, 150010}});
  const std::pair<int, int> runs[] = {{100, 10}, {200, 3},  {300, 2},  {400, 4},    {1000, 2},
                                      {1003, 2}, {1006, 2}, {1009, 2}, {150000, 2}, {150010, 2}};
  for (const auto& run : runs) volume.TakeClusters(run.first, run.second);
}
