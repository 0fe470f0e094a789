#include "Platform/linux/bundle/XmlPropertyList.h"
#include "support/ReferencePropertyList.h"

#include <gtest/gtest.h>

namespace {

using Texts = std::map<std::string, std::string>;

std::string plist(const std::string& dictionary) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           dictionary + "\n</plist>\n";
}

} // namespace

TEST(XmlPropertyList, TextsAgreeWithTheReferenceLibraryAndBrokenListsGiveNothing) {
    const std::pair<std::string, Texts> read[] = {
        {plist("<dict>\n\t<key>CFBundleVersion</key>\n\t<string>12</string>\n"
               "\t<!-- a comment --><key>Count</key><integer>3</integer>\n"
               "\t<key>On</key><true/><key>List</key><array><string>x</string><dict/></array>\n"
               "\t<key>Inner</key><dict><key>A</key><string>b</string></dict>\n"
               "\t<key>Name</key><string xml:space='preserve'> two  words </string>\n</dict>"),
         {{"CFBundleVersion", "12"}, {"Name", " two  words "}}},
        {plist("<dict><key>a&amp;b</key><string>&lt;&gt;&quot;&apos;&#233;&#x20AC;&#x1F600;"
               "<![CDATA[<raw&>]]>x<!-- gone -->y</string></dict>"),
         {{"a&b", "<>\"'\u00e9\u20ac\U0001F600<raw&>xy"}}},
        {plist("<dict><key></key><string/><key>k</key><string>first</string>"
               "<key>k</key><string>last</string><key>gone</key><string>x</string>"
               "<key>gone</key><integer>1</integer></dict>"),
         {{"", ""}, {"k", "last"}}},
    };
    for (const auto& [document, texts] : read) {
        EXPECT_EQ(asOptional(dictionaryTexts(document)), texts) << document;
        EXPECT_EQ(referenceDictionaryTexts(document), texts) << document;
    }

    // A byte order mark, which XML allows, though the reference does not.
    EXPECT_EQ(asOptional(dictionaryTexts("\xEF\xBB\xBF<plist><dict/></plist>")), Texts());

    const std::string refused[] = {
        "",
        "not a list",
        plist("<array><string>x</string></array>"),
        plist("<dict><key>k</key><string>x</string>"),
        plist("<dict><key>k</key><string>x</strin></dict>"),
        plist("<dict><key>k</key><string>a<b/>c</string></dict>"),
        plist("<dict><key>k</key><string>&nbsp;</string></dict>"),
        plist("<dict><key>k</key><string>&#xD800;</string></dict>"),
        plist("<dict><key>k</key><string>&#1;</string></dict>"),
        plist("<dict><key>k\x01</key><string>x</string></dict>"),
        plist("<dict><key>k</key></dict>"),
        plist("<dict><key/><string>x</string></dict>"),
        plist("<dict><string>x</string></dict>"),
        plist("<dict><key>k</key><key>v</key></dict>"),
        plist("<dict><!-- a -- b --></dict>"),
        plist("<dict><!---></dict>"),
        plist("<dict><key>k</key><array><integer>1</integer></dict></array></dict>"),
        plist("<dict/>") + "<trailing/>",
        "<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><dict/></plist>",
        // A stray quote must not hide markup: other readers end the tag at the first '>'.
        "<plist x\"><dict><key>k</key><string>v</string></dict>\"><dict/></plist>",
        "<plist a=\"<\"><dict/></plist>",
        plist("<dict><key>k</key><string>x</string><!DOCTYPE plist></dict>"),
        "<!DOCTYPE\"><plist><dict><key><![CDATA[\"><dict><key>]]></key><string/></dict></plist>",
        "<plist a=\"1\"b=\"2\"><dict/></plist>",
    };
    for (const auto& document : refused)
        EXPECT_FALSE(dictionaryTexts(document)) << document;

    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<array>";
    EXPECT_FALSE(dictionaryTexts(plist("<dict><key>k</key>" + deep + "</dict>")));
}
