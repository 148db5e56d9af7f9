#include "UiTestSupport.h"

#include "ui/frmHtmlViewer.h"

#include <QImage>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

class RecordingViewer : public TfmHtmlViewer {
public:
    QList<QUrl> opened;

protected:
    void OpenLink(const QUrl& url) override { opened << url; }
};

// Clicks the first character of the viewer's text.
void clickText(RecordingViewer& viewer, int position = 1) {
    QTextCursor cursor(viewer.hlMain->document());
    cursor.setPosition(position);
    const QPoint point = viewer.hlMain->cursorRect(cursor).center() + QPoint(2, 0);
    QTest::mouseClick(viewer.hlMain->viewport(), Qt::LeftButton, {}, point);
}

}  // namespace

TEST_F(UiTest, HtmlViewerOpensWebLinksOnlyWhenClickedAndFollowsNoOtherKind) {
    RecordingViewer viewer;
    EXPECT_EQ(viewer.size(), QSize(783, 540));
    viewer.show();
    viewer.ShowHtml("<p><a href=\"https://example.com/offer\">Offer</a></p>");
    EXPECT_EQ(viewer.Html, "<p><a href=\"https://example.com/offer\">Offer</a></p>");
    EXPECT_TRUE(viewer.opened.isEmpty());
    clickText(viewer);
    ASSERT_EQ(viewer.opened.size(), 1);
    EXPECT_EQ(viewer.opened[0], QUrl("https://example.com/offer"));
    // The viewer stays on the mail.
    EXPECT_TRUE(viewer.hlMain->toPlainText().contains("Offer"));

    for (const char* href : {"file:///etc/passwd", "javascript:alert(1)", "relative.html", "ms-settings:x"}) {
        viewer.ShowHtml(QString("<p><a href=\"%1\">Link</a></p>").arg(href));
        clickText(viewer);
    }
    EXPECT_EQ(viewer.opened.size(), 1);
    EXPECT_TRUE(TfmHtmlViewer::Openable(QUrl("mailto:ann@example.com")));
    EXPECT_FALSE(TfmHtmlViewer::Openable(QUrl("file:///tmp/x.html")));
}

TEST_F(UiTest, HtmlViewerLoadsNoImageOrFileTheMailRefersTo) {
    const std::string picture = dir.file("picture.png");
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(picture)));
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(picture));
    RecordingViewer viewer;
    viewer.ShowHtml(QString("<p>Hello <img src=\"%1\"> <img src=\"http://127.0.0.1:9/t.png\"></p>").arg(url.toString()));
    viewer.show();
    viewer.grab();
    EXPECT_TRUE(viewer.hlMain->document()->resource(QTextDocument::ImageResource, url).isNull());
    // An ordinary browser would have read the file.
    QTextBrowser plain;
    plain.setHtml(QString("<img src=\"%1\">").arg(url.toString()));
    EXPECT_FALSE(plain.document()->resource(QTextDocument::ImageResource, url).isNull());
}
