// dravolin-wizard: the Qt desktop wizard. Writes the start block of the
// activity report and runs the main window until it closes.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "app/session.h"
#include "app/source_resolver.h"
#include "app/wizard_steps.h"
#include "common/format.h"
#include "ui/wizard_window.h"

namespace {

// Whether the window has somewhere to go: an X or Wayland display, or a Qt
// platform chosen on purpose (QT_QPA_PLATFORM, -platform), which is left to Qt.
bool displayAvailable(int argc, char** argv) {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* value = std::getenv(variable); value && *value) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-platform" || arg.starts_with("-platform=")) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  bool textOnly = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    textOnly = textOnly || arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version";
  }
  // Without a display Qt would abort with a core dump after a message about
  // its platform plug-in; say plainly what is missing instead.
  if (!textOnly && !displayAvailable(argc, argv)) {
    std::fputs("dravolin-wizard: there is no display to open the window on (neither DISPLAY nor "
               "WAYLAND_DISPLAY is set). Start it in a desktop session, or use the command line: "
               "dravolin --help\n",
               stderr);
    return 1;
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
