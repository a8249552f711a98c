// The optimizing stage: placement rules, then zone placement.
#include "app/drive_optimizer.h"

void TDriveOptimizer::OptimizeTree() {
  statusText.Set("Optimizing the memory tree");
  detailText.Set("Applying rules to the tree");
  detailText.Set("Optimizing fragments");
}
