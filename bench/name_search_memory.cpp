// Memory of the wizard's name search: a result browser over 100,000 files
// (the tree shape of the benchmark images, 40 top folders of 50 folders of
// 50 files, every 20th file deleted, made in memory), its Search File(s)
// window opened, "*" searched and every hit listed, then the window closed.
// Prints the heap in use (mallinfo2: arena + mapped blocks) and the resident
// set (/proc/self/statm) before, with the hits shown and after closing, the
// bytes per hit, and what stays after closing. Two rounds, so that a leak
// shows as growth. Run under QT_QPA_PLATFORM=offscreen (bench_name_search.sh).
// Usage: name_search_memory [FILES]   (default 100000, a multiple of 50)
#include <malloc.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/search_controller.h"
#include "app/session.h"
#include "common/text_encoding.h"
#include "ui/file_display.h"
#include "ui/name_search_dialog.h"
#include "ui/wizard_window.h"

using namespace dravolin;

namespace {

struct Memory {
  long long heap = 0;  // bytes malloc has handed out (arena + mapped)
  long long rss = 0;   // resident bytes
};

Memory measure() {
  // Posted deletions first, so that a closed window is really gone.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  Memory m;
  const struct mallinfo2 info = mallinfo2();
  m.heap = static_cast<long long>(info.uordblks + info.hblkhd);
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  m.rss = resident * sysconf(_SC_PAGESIZE);
  return m;
}

// Waits in the event loop until done() or the time runs out.
bool waitUntil(const std::function<bool()>& done, int ms = 600000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// The benchmark tree: "Project NN" / "Folder NN" / "document NNNNN.dat".
void fillEntries(FoundEntries& entries, int files) {
  const int top = files / 2500 > 0 ? files / 2500 : 1;
  const int perFolder = 50;
  std::uint32_t nextId = 3;
  int made = 0;
  EntryTimes times{0x5A21, 0x6000, 0x5A21, 0x6000, 0x5A21, 0};
  for (int t = 0; t < top && made < files; ++t) {
    char name[64];
    std::snprintf(name, sizeof name, "Project %02d", t);
    const std::uint32_t project = nextId++;
    entries.AddDirectoryNode("", utf8ToUtf16(name), false, 0, project, 0, times);
    for (int s = 0; s < 50 && made < files; ++s) {
      std::snprintf(name, sizeof name, "Folder %02d", s);
      const std::uint32_t folder = nextId++;
      entries.AddDirectoryNode("", utf8ToUtf16(name), false, project, folder, 0, times);
      for (int f = 0; f < perFolder && made < files; ++f, ++made) {
        std::snprintf(name, sizeof name, "document %05d.dat", s * perFolder + f);
        entries.AddFileNode("", utf8ToUtf16(name), made % 20 == 19, 100 + (made * 37) % 11900, folder,
                            nextId++, 0, times);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  QApplication app(argc, argv);
  QTemporaryDir home;
  EnvironmentOptions environment;
  environment.configFile = home.filePath(QStringLiteral("dravolin.ini")).toStdString();
  environment.logDir = home.path().toStdString();
  Session session(environment);
  session.state.FileSystemType = FsType::Fat32;
  fillEntries(session.entries, files);

  ui::WizardOptions options;
  options.devices = [] { return std::vector<DeviceInfo>{}; };
  options.openUrl = [](const QUrl&) {};
  ui::MainWindow window(session, options);
  window.show();
  // An exhaustive result (no hint box to answer).
  auto* display = new ui::FileDisplay(window, WorkerKind::FatExhaustive);
  window.push(display);
  if (!waitUntil([display] { return display->filled(); })) {
    std::fprintf(stderr, "name_search_memory: the result tree was not filled\n");
    return 1;
  }
  std::printf("files %d, folders %zu\n", files, session.entries.DirectoryList.size());

  int status = 0;
  for (int round = 1; round <= 2; ++round) {
    const Memory before = measure();
    Memory shown;
    long long hits = -1;
    // The window is opened as the browser's Search File/Folder command
    // opens it (modal, destroyed when it closes); a timer drives it.
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<ui::FileSearchDialog*>(QApplication::activeModalWidget());
      if (!dialog || dialog->searching() || hits >= 0) return;
      driver.stop();
      dialog->patternEdit()->setText(QStringLiteral("*"));
      QObject::connect(dialog, &ui::FileSearchDialog::searchEnded, dialog, [&, dialog] {
        // The view lays out its rows and paints the last screen of them.
        QTreeView* view = dialog->hitList();
        view->scrollToBottom();
        QTimer::singleShot(200, dialog, [&, dialog, view] {
          hits = view->model()->rowCount();
          shown = measure();
          dialog->reject();
        });
      });
      dialog->startOrStop();
    });
    driver.start();
    display->searchFiles();
    const Memory closed = measure();
    if (hits <= 0) {
      std::fprintf(stderr, "name_search_memory: the search listed no hits\n");
      return 1;
    }
    const double perHit = static_cast<double>(shown.heap - before.heap) / static_cast<double>(hits);
    const double rssPerHit = static_cast<double>(shown.rss - before.rss) / static_cast<double>(hits);
    std::printf("round %d: %lld hits\n", round, hits);
    auto mb = [](long long bytes) { return static_cast<double>(bytes) / 1e6; };
    std::printf("  heap in use: before %.1f MB, hits shown %.1f MB, closed %.1f MB\n", mb(before.heap),
                mb(shown.heap), mb(closed.heap));
    std::printf("  resident:    before %.1f MB, hits shown %.1f MB, closed %.1f MB\n", mb(before.rss),
                mb(shown.rss), mb(closed.rss));
    std::printf("  per hit: %.0f bytes of heap, %.0f bytes resident; kept after closing: %.1f KB of heap, "
                "%.1f KB resident\n",
                perHit, rssPerHit, mb(closed.heap - before.heap) * 1e3, mb(closed.rss - before.rss) * 1e3);
    std::printf("bytes_per_hit %.0f\n", perHit);
    std::printf("heap_kept_after_close %lld\n", closed.heap - before.heap);
    std::printf("resident_kept_after_close %lld\n", closed.rss - before.rss);
    std::printf("hits %lld\n", hits);
  }
  return status;
}
