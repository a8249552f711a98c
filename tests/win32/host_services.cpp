#include "tests/support/host_services.h"

#include "platform/win32/win32_services.h"

std::unique_ptr<TSystemServices> MakeHostServices() { return std::make_unique<TWin32Services>(); }
