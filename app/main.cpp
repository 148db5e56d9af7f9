#include "daemon/cvHeadless.h"
#include "ui/cvMain.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstring>
#include <iostream>

namespace {

int usage() {
    std::cerr << "Usage: corvane [SETUP.xml]\n       corvane --headless [--no-parsers] SETUP.xml\n";
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--headless") == 0) {
        const bool noParsers = argc == 4 && std::strcmp(argv[2], "--no-parsers") == 0;
        if (argc != 3 && !noParsers) return usage();
        // No display and no widgets' platform plug-in in this mode.
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName("Brixwold");
        QCoreApplication::setApplicationName("Vantrel");
        return RunHeadless(argv[argc - 1], !noParsers, std::cout, std::cerr);
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) return usage();
    QApplication app(argc, argv);
    // Together with the product name that the window sets, this names the user's data folder.
    QCoreApplication::setOrganizationName("Brixwold");
    TfrmMain window;
    if (argc == 2) window.OpenAtStart(QString::fromLocal8Bit(argv[1]));
    window.show();
    return app.exec();
}
