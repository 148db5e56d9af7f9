#include "UiTestSupport.h"

#include "ui/frmAdvanced.h"
#include "ui/frmCustomFields.h"
#include "ui/frmGroupCompare.h"
#include "ui/frmHtmlViewer.h"

#include <QDir>
#include <QPixmap>
#include <QTabWidget>

// Pictures of the custom fields editor, the group comparison and the HTML viewer for review.
TEST_F(UiTest, ScreenshotsOfSecondaryWindows) {
    const QString folder = CORVANE_SCREENSHOT_DIR;
    ASSERT_TRUE(QDir().mkpath(folder));
    auto w = makeWindow();
    TcvGroup* one = addGroup(*w->Setup, "NEW", {"ann@example.com", "bob@example.com", "cy@example.org"});
    TcvGroup* two = addGroup(*w->Setup, "OLD", {"ANN@example.com", "dee@example.org"});
    for (const char* title : {"Town", "Shoe size", "Customer number"}) {
        auto* f = new TcvFieldDef;
        f->Title = title;
        one->AddFieldDef(f);
    }
    one->Contacts(0)->SetCustomField(0, "Leeds");
    one->Contacts(1)->SetCustomField(0, "York");
    one->Contacts(0)->SetCustomField(1, "42");
    one->Contacts(1)->SetCustomField(1, "42");

    TfmCustomFields fields(*one, {one->Contacts(0), one->Contacts(1)}, w.get());
    fields.show();
    EXPECT_TRUE(fields.grab().save(folder + "/dialog-fmCustomFields.png"));

    TfmGroupCompare compare(*w, *one, *two, CompareGroupEmails(*one, *two));
    compare.show();
    EXPECT_TRUE(compare.grab().save(folder + "/dialog-fmGroupCompare.png"));

    TfmHtmlViewer viewer(w.get());
    viewer.setWindowTitle("Message 1");
    viewer.ShowHtml("<h2>Welcome</h2><p>Thank you for joining. Read the <a href=\"https://example.com/news\">"
                    "latest news</a>.</p><pre>Order 1234   2 x Widget</pre>");
    viewer.show();
    EXPECT_TRUE(viewer.grab().save(folder + "/dialog-fmHtmlViewer.png"));

    auto* welcome = new TcvMessage;
    one->AddMessage(welcome);
    welcome->SetTitle("Welcome");
    welcome->Subject = "Welcome, %FirstName";
    welcome->BodyPlain = "Dear %FullName,\r\n\r\nthank you for joining. Your town: %Town.";
    welcome->BodyHtml = "<html><body><h2>Welcome</h2>\r\n<p>Dear %FullName,</p>\r\n<p>thank you for joining.</p>"
                        "\r\n</body></html>";
    one->Contacts(0)->FirstName = "Ann";
    one->Contacts(0)->LastName = "Lee";
    TfmAdvanced editor(*w);
    editor.EditMessage(welcome);
    for (QWidget* page : {editor.tsPlain, editor.tsHtml, editor.tsPreview}) {
        editor.pcMessage->setCurrentWidget(page);
        editor.show();
        EXPECT_TRUE(editor.grab().save(folder + "/dialog-fmAdvanced-" + page->objectName() + ".png"));
    }
}
