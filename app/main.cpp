// Tessarine: opens the repair window and runs until the user closes it.
#include <QApplication>
#include <chrono>

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
    // The window asks before it closes during a run and closes only once the
    // run has ended; a run still going here (the session ended, say) is
    // cancelled and waited for: the process never ends while the server
    // writes a database under the user's name, and the run puts back what
    // it had half done.
    while (!FPrincipal.EndRunOnExit(std::chrono::seconds(1))) {
    }
  }
  return exitCode;
}
