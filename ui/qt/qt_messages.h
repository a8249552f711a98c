// Qt's own messages ("QStandardPaths: XDG_RUNTIME_DIR not set, ...") are
// for developers: they reach standard error only with DISKOPT_DEBUG=1.
#pragma once

// Installs the filter for the whole process; call before the QApplication
// is made, since it speaks while starting. Critical and fatal messages
// always pass.
void QuietenQtMessages();
