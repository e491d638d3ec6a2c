// Tessarine: opens the repair window and runs until the user closes it.
#include <QApplication>
#include <QCommandLineParser>
#include <chrono>
#include <exception>

#include "app/TFPrincipal.h"
#include "app/TSignalNotifier.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "fbaccess/ClientLibrary.h"
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
    TFPrincipal FPrincipal(&TFirebirdSteps::Create);
    FPrincipal.show();
    FPrincipal.PlaceOnScreen();
    // A run the server works for must not lose its connections to the
    // client library's own handling of SIGTERM: it is cancelled instead.
    try {
      ClientLibrary::KeepConnectionsOnSignal();
    } catch (const std::exception&) {
      // No client library: a run reports that itself.
    }
    // SIGTERM, SIGHUP and SIGINT act as Cancelar, then close the window; kept until
    // the run has ended, so that a second signal cannot cut it short.
    const TSignalNotifier signalNotifier([&FPrincipal] { FPrincipal.EndOnSignal(); });
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
