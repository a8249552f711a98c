// The scripted volume either shell's tests of the summary panel analyse:
// files in several pieces, one far below the first screen.
#pragma once

class TScriptedVolume;

// 200,000 clusters of 4 KiB: \one.txt whole at 100, \three.avi in 3 pieces
// from 200, \docs\big.iso in 4 pieces from 1,000 and \docs\far.log in 2
// pieces at 150,000; every cluster of every run in use, as on a sound
// volume.
void PopulateSummaryVolume(TScriptedVolume& volume);
