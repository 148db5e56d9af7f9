#include "ui/frmHtmlViewer.h"

#include <QDesktopServices>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

// A document that loads no image, style sheet or other resource: a mail could otherwise make the
// viewer read files of this computer.
class TOfflineDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

}  // namespace

QTextBrowser* OfflineBrowser(QWidget* parent, const char* name) {
    auto* browser = new QTextBrowser(parent);
    browser->setDocument(new TOfflineDocument(browser));
    browser->setObjectName(name);
    browser->setOpenLinks(false);
    browser->setOpenExternalLinks(false);
    QFont font("Times New Roman");
    font.setStyleHint(QFont::Serif);
    browser->document()->setDefaultFont(font);
    browser->document()->setDefaultStyleSheet("pre, code, tt, kbd, samp { font-family: 'Courier New', monospace; }");
    return browser;
}

TfmHtmlViewer::TfmHtmlViewer(QWidget* parent) : QDialog(parent) {
    setObjectName("fmHtmlViewer");
    hlMain = OfflineBrowser(this, "hlMain");
    connect(hlMain, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (Openable(url)) OpenLink(url);
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(hlMain);
    resize(783, 540);
}

void TfmHtmlViewer::ShowHtml(const QString& text) {
    Html = text;
    hlMain->setHtml(text);
    hlMain->update();
}

bool TfmHtmlViewer::Openable(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https" || scheme == "mailto");
}

void TfmHtmlViewer::OpenLink(const QUrl& url) { QDesktopServices::openUrl(url); }
