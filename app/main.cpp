#include "ui/cvMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Together with the product name that the window sets, this names the user's data folder.
    QCoreApplication::setOrganizationName("Brixwold");
    TfrmMain window;
    window.show();
    return app.exec();
}
