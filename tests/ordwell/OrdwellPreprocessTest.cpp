#include "OrdwellFixture.h"

namespace {

const std::string CompleteOrder =
    "Thank you for your order.\r\n"
    "\r\n"
    "Order ID: 4711\r\n"
    "Tracking ID: TR-88\r\n"
    "Registration Date: 2004-01-02 10:11:12\r\n"
    "Product Name: Vantrel Pro\r\n"
    "Product ID: 300\r\n"
    "Order Type: New\r\n"
    "Quantity: 2\r\n"
    "Registration Total: 59.90 USD\r\n"
    "PriceCode Used: SPRING\r\n"
    "CD Delivery Selected: No\r\n"
    "Extended Download: Yes\r\n"
    "Name: Ann Smith\r\n"
    "Company: Smith & Co\r\n"
    "Email: ann@example.com\r\n"
    "Address1: 1 Main Street\r\n"
    "Address2: Suite 5\r\n"
    "Address3: Building B\r\n"
    "City: Springfield\r\n"
    "State: IL\r\n"
    "Country: United States\r\n"
    "Country Code: US\r\n"
    "Zip: 62701\r\n"
    "Phone: +1 555 0100\r\n"
    "Serial Number: ABC-123\r\n"
    "Serial Numbers Left: 3\r\n"
    "VerifyLink: V-1\r\n"
    "Regards\r\n";

}  // namespace

TEST_F(OrdwellTest, FieldsInOrderYieldOneLinePerFieldInMailOrder)
{
    EXPECT_EQ(run("Order ID: 123\r\nTracking ID: T9\r\nName: Ann Smith\r\nEmail: ann@example.com"),
        "RegService=Ordwell\r\nOrderID=123\r\nTrackingID=T9\r\nName=Ann Smith\r\nEmail=ann@example.com\r\n");
}

TEST_F(OrdwellTest, CompleteOrderTakesEveryRowDespiteLabelsInsideLongerLabels)
{
    const Lines expected = {"RegService=Ordwell", "OrderID=4711", "TrackingID=TR-88",
        "RegDate=2004-01-02 10:11:12", "ProductName=Vantrel Pro", "ProductID=300", "OrderType=New",
        "Quantity=2", "RegTotal=59.90 USD", "PriceCode=SPRING", "CDDelivery=No", "ExtDownload=Yes",
        "Name=Ann Smith", "Company=Smith & Co", "Email=ann@example.com", "Address1=1 Main Street",
        "Address2=Suite 5", "Address3=Building B", "City=Springfield", "State=IL",
        "Country=United States", "CountryCode=US", "ZIP=62701", "Phone=+1 555 0100",
        "Serial=ABC-123", "SerialLeft=3", "VerifyLink=V-1"};
    EXPECT_EQ(lines(CompleteOrder), expected);
}

TEST_F(OrdwellTest, SecondOrderAfterTheLastRowStartsAgainAtTheFirst)
{
    const auto result = lines(CompleteOrder + "Order ID: 4712\r\nTracking ID of Order ID: TR-89\r\n");
    ASSERT_EQ(result.size(), 27u);
    EXPECT_EQ(result[1], "OrderID=4712");
    EXPECT_EQ(result[2], "TrackingID=TR-89");
}

TEST_F(OrdwellTest, WithoutMailOrderTheFirstRowInTableOrderWins)
{
    EXPECT_EQ(lines("Name: Ann\nOrder ID: 5\nProduct Name: Widget\nSerial Numbers Left: 4"),
        (Lines{"RegService=Ordwell", "Name=Ann", "OrderID=5", "ProductName=Widget", "Serial=4"}));
}

TEST_F(OrdwellTest, ExpectedRowBeatsTableOrder)
{
    EXPECT_EQ(lines("Serial Number: X-1\nSerial Numbers Left: 3"),
        (Lines{"RegService=Ordwell", "Serial=X-1", "SerialLeft=3"}));
    EXPECT_EQ(lines("Company: Acme\nEmail Name: ann@example.com"),
        (Lines{"RegService=Ordwell", "Company=Acme", "Email=ann@example.com"}));
}

TEST_F(OrdwellTest, EmptyValueSetsNothingButKeepsTheSequence)
{
    EXPECT_EQ(lines("Order ID:   \r\nTracking ID of Order ID: T9\r\n"),
        (Lines{"RegService=Ordwell", "TrackingID=T9"}));
}

TEST_F(OrdwellTest, UnknownLineRestartsTheSequenceAtTheFirstRow)
{
    EXPECT_EQ(lines("Order ID: 1\r\nsome remark\r\nTracking ID of Order ID: 2\r\n"),
        (Lines{"RegService=Ordwell", "OrderID=2"}));
}

TEST_F(OrdwellTest, BlankLinesDoNotDisturbTheSequence)
{
    EXPECT_EQ(lines("Serial Number: X-1\r\n\r\n   \t \r\n\x01\x1f\r\nSerial Numbers Left: 3\r\n\r\n"),
        (Lines{"RegService=Ordwell", "Serial=X-1", "SerialLeft=3"}));
}

TEST_F(OrdwellTest, CrLfCrAndLfAllEndLines)
{
    const Lines expected = {"RegService=Ordwell", "OrderID=1", "TrackingID=2", "Name=Ann", "Email=a@b.c"};
    EXPECT_EQ(lines("Order ID: 1\rTracking ID: 2\nName: Ann\r\nEmail: a@b.c"), expected);
    EXPECT_EQ(lines("Order ID: 1\r\rTracking ID: 2\n\n\r\nName: Ann\n\rEmail: a@b.c\r"), expected);
}

TEST_F(OrdwellTest, ValuesAreTrimmedAndKeepFurtherColons)
{
    EXPECT_EQ(lines("Order ID: \t 42 \t \r\nRegistration Date: 2004-01-02 10:11:12\r\nName:Ann:B\r\n"),
        (Lines{"RegService=Ordwell", "OrderID=42", "RegDate=2004-01-02 10:11:12", "Name=Ann:B"}));
}

TEST_F(OrdwellTest, TrimRemovesControlCharactersButKeepsHighBytes)
{
    EXPECT_EQ(lines("Name:\x01\x1f Jos\xe9\x7f\xa0\x1f\r\nCity: \xa0M\xfcnchen\r\n"),
        (Lines{"RegService=Ordwell", "Name=Jos\xe9\x7f\xa0", "City=\xa0M\xfcnchen"}));
}

TEST_F(OrdwellTest, LineWithoutColonGivesTheWholeTrimmedLine)
{
    EXPECT_EQ(lines("  Quantity 3  \r\n"), (Lines{"RegService=Ordwell", "Quantity=Quantity 3"}));
}

TEST_F(OrdwellTest, LabelsMatchAnywhereButOnlyWithTheirCase)
{
    EXPECT_EQ(lines("Your Order ID is: 55\r\norder id: 66\r\nEMAIL: x@y.z\r\n"),
        (Lines{"RegService=Ordwell", "OrderID=55"}));
}

TEST_F(OrdwellTest, RepeatedFieldIsReplacedInPlace)
{
    EXPECT_EQ(lines("Order ID: 1\r\nName: Ann\r\nOrder ID: 2\r\nOrder ID:\r\nName: Bob\r\n"),
        (Lines{"RegService=Ordwell", "OrderID=2", "Name=Bob"}));
}

TEST_F(OrdwellTest, BodyWithoutLabelsYieldsOnlyTheService)
{
    EXPECT_EQ(run(""), "RegService=Ordwell\r\n");
    EXPECT_EQ(run(" \r\n\t\r\n"), "RegService=Ordwell\r\n");
    EXPECT_EQ(run("Hello,\r\nno order here.\r\n"), "RegService=Ordwell\r\n");
}

TEST_F(OrdwellTest, ValueMayHoldAnEqualsSign)
{
    EXPECT_EQ(lines("Name: a=b\r\n"), (Lines{"RegService=Ordwell", "Name=a=b"}));
}

TEST_F(OrdwellTest, SenderAndSubjectAreIgnored)
{
    const std::string body = "Order ID: 1\r\n";
    const std::string expected = "RegService=Ordwell\r\nOrderID=1\r\n";
    EXPECT_EQ(run(body, "Email: x@y.z", "Name: http://x"), expected);
    EXPECT_EQ(copyAndFree(preprocess(nullptr, nullptr, body.c_str()), freePointer), expected);
}

TEST_F(OrdwellTest, LastLineWithLinkBecomesVerifyLinkUntrimmed)
{
    EXPECT_EQ(lines("Order ID: 1\r\n  Click http://example.com/v?id=1 \t\r\n\r\n  \r\n"),
        (Lines{"RegService=Ordwell", "OrderID=1", "VerifyLink=  Click http://example.com/v?id=1 \t"}));
}

TEST_F(OrdwellTest, LastLineWithLinkAndLabelSetsBoth)
{
    EXPECT_EQ(lines("Name: Ann\r\nEmail: http://example.com/ann"),
        (Lines{"RegService=Ordwell", "Name=Ann", "Email=http://example.com/ann",
            "VerifyLink=Email: http://example.com/ann"}));
}

TEST_F(OrdwellTest, LinkOnlyCountsOnTheLastLineAndInLowerCase)
{
    EXPECT_EQ(lines("http://example.com\r\nName: Ann\r\n"), (Lines{"RegService=Ordwell", "Name=Ann"}));
    EXPECT_EQ(lines("Name: Ann\r\nHTTP://EXAMPLE.COM\r\n"), (Lines{"RegService=Ordwell", "Name=Ann"}));
}

TEST_F(OrdwellTest, VerifyLinkRowKeptWhenLastLineHasNoLink)
{
    EXPECT_EQ(lines("VerifyLink: code-7\r\nName: Ann\r\n"),
        (Lines{"RegService=Ordwell", "VerifyLink=code-7", "Name=Ann"}));
}

TEST_F(OrdwellTest, LinkOnLastLineReplacesVerifyLinkRowInPlace)
{
    EXPECT_EQ(lines("VerifyLink: code-7\r\nName: Ann\r\nhttps://example.com/verify\r\n"),
        (Lines{"RegService=Ordwell", "VerifyLink=https://example.com/verify", "Name=Ann"}));
}

// Many lines must neither make the replacement in place quadratic nor grow the list: the
// ctest time-out catches the first, the result the second.
TEST_F(OrdwellTest, TenMegabyteBodyWithManyRepeatedOrders)
{
    std::string body;
    body.reserve(11u << 20);
    int order = 0;
    while (body.size() < (10u << 20)) {
        ++order;
        body += "Order ID: " + std::to_string(order) + "\r\n\r\nName: Buyer " + std::to_string(order)
            + "\nSerial Number: S" + std::to_string(order) + "\rSerial Numbers Left: 9\r\nnoise line\r\n";
    }
    body += "https://example.com/last";
    EXPECT_EQ(lines(body),
        (Lines{"RegService=Ordwell", "OrderID=" + std::to_string(order), "Name=Buyer " + std::to_string(order),
            "Serial=S" + std::to_string(order), "SerialLeft=9", "VerifyLink=https://example.com/last"}));
}

TEST_F(OrdwellTest, TenMegabyteSingleLine)
{
    std::string body = "Name: ";
    body.append(10u << 20, 'x');
    body += " http";
    const auto result = lines(body);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[1].size(), 5u + (10u << 20) + 5u);
    EXPECT_EQ(result[2].substr(0, 17), "VerifyLink=Name: ");
}
