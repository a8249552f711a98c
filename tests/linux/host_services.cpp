#include "tests/support/host_services.h"

#include "platform/linux/linux_services.h"

std::unique_ptr<TSystemServices> MakeHostServices() { return std::make_unique<TLinuxServices>(); }
