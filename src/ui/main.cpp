// dravolin-wizard: the Qt desktop wizard. Writes the start block of the
// activity report and runs the main window until it closes.
#include <QApplication>
#include <QCommandLineParser>
#include <ctime>
#include <memory>
#include <string>

#include "app/session.h"
#include "app/source_resolver.h"
#include "app/wizard_steps.h"
#include "common/format.h"
#include "ui/wizard_window.h"

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  bool textOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    textOnly = textOnly || arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version";
  }
  std::unique_ptr<QCoreApplication> application =
      textOnly ? std::make_unique<QCoreApplication>(argc, argv) : std::make_unique<QApplication>(argc, argv);
  QCoreApplication& app = *application;
  QCoreApplication::setApplicationName(QStringLiteral("dravolin-wizard"));
  QCoreApplication::setApplicationVersion(QStringLiteral(DRAVOLIN_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Dravolin recovery wizard"));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption config(QStringLiteral("config"), QStringLiteral("Settings file"), QStringLiteral("file"));
  QCommandLineOption logDir(QStringLiteral("log-dir"), QStringLiteral("Folder of the activity report and recovery history"),
                            QStringLiteral("folder"));
  parser.addOption(config);
  parser.addOption(logDir);
  parser.addPositionalArgument(QStringLiteral("image"), QStringLiteral("A disk image to offer in Step 1"), QStringLiteral("[image]"));
  parser.process(app);

  dravolin::EnvironmentOptions options;
  if (parser.isSet(config)) options.configFile = parser.value(config).toStdString();
  if (parser.isSet(logDir)) options.logDir = parser.value(logDir).toStdString();
  dravolin::Session session(options);
  // The wizard runs as the user: a disk it may not open is asked of UDisks2
  // (polkit asks for the password).
  session.deviceAccess = dravolin::deviceAccessFor(true);
  session.state.caption = std::string(dravolin::kApplicationTitle) + " - Desktop Recovery";
  session.writeStartBlock(dravolin::localTimeNow());

  dravolin::ui::WizardOptions wizard;
  wizard.devices = [] { return dravolin::machineDisks(); };
  if (!parser.positionalArguments().isEmpty()) wizard.initialImage = parser.positionalArguments().front().toStdString();
  dravolin::ui::MainWindow window(session, wizard);
  window.show();
  return app.exec();
}
