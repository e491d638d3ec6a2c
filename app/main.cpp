// Tessarine: opens the repair window and runs until the user closes it.
#include <QApplication>
#include <QCommandLineParser>
#include <chrono>

#include "app/TFPrincipal.h"
#include "engine/TThreadRecovery.h"
#include "tessarine/Version.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessarine"));
  QApplication::setApplicationVersion(QStringLiteral(TESSARINE_VERSION));
  // --help and --version, as the package's manual page says.
  QCommandLineParser options;
  options.setApplicationDescription(
      QStringLiteral("Repara bancos de dados Firebird corrompidos (janela)."));
  options.addHelpOption();
  options.addVersionOption();
  options.process(application);
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
