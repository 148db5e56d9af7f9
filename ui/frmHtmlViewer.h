#pragma once
// A received mail shown as HTML. Nothing the mail refers to is fetched, and a link is followed
// only when the user clicks it, in the desktop's browser.
#include <QDialog>
#include <QUrl>

class QTextBrowser;
class QWidget;

// A viewer of mail HTML that loads no image, style sheet or other resource and follows no link by
// itself (its anchorClicked signal reports clicks), in the fonts of mail views.
QTextBrowser* OfflineBrowser(QWidget* parent, const char* name);

class TfmHtmlViewer : public QDialog {
    Q_OBJECT
public:
    explicit TfmHtmlViewer(QWidget* parent = nullptr);

    void ShowHtml(const QString& text);
    // Web and mail links go to the desktop; any other kind of link is not followed.
    static bool Openable(const QUrl& url);

    QString Html;
    QTextBrowser* hlMain;

protected:
    // Opens a clicked link with the desktop's program for it.
    virtual void OpenLink(const QUrl& url);
};
