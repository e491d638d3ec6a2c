// Tessarine: opens the repair window and runs until the user closes it.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/TFPrincipal.h"
#include "engine/TThreadRecovery.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessarine"));
  int exitCode = 0;
  {
    TFPrincipal FPrincipal(TThreadRecovery::DefaultSteps());
    FPrincipal.show();
    FPrincipal.PlaceOnScreen();
    exitCode = QApplication::exec();
    // The window closed. A run still in progress ends at its next call to
    // the window, unless its thread is blocked in a server call that writes
    // nothing: then joining it would hang, so the process ends without
    // running destructors (the server keeps or drops the half-done
    // operation as it would for any client that disconnects).
    if (!FPrincipal.EndRunOnExit(std::chrono::seconds(3))) {
      std::fflush(nullptr);
      std::quick_exit(exitCode);
    }
  }
  return exitCode;
}
