#include "util/field_set.h"

#include <gtest/gtest.h>

#include "util/gbk_test_text.h"

namespace newsbar {
namespace {

using test::Gbk;
using Texts = std::vector<Text>;

const char kBrowser[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/50.0.2661.87 Safari/537.36";

TEST(RequestFieldSet, CatalogueHeaderIsOneLineWithoutBreak) {
  RequestFieldSet set;
  set.AddField("User-Agent", kBrowser);
  EXPECT_EQ(set.ToHeaderText(), std::string("User-Agent: ") + kBrowser);
}

TEST(RequestFieldSet, EmptySetForms) {
  RequestFieldSet set;
  EXPECT_EQ(set.ToQueryText(), "");
  EXPECT_EQ(set.ToQueryText(true), "");
  EXPECT_EQ(set.ToHeaderText(), "");
  EXPECT_EQ(set.ToJsonText(), "{}");
  EXPECT_TRUE(set.FieldNames().empty());
}

TEST(RequestFieldSet, QueryHeaderAndJsonForms) {
  RequestFieldSet set;
  set.AddField("a", "1");
  set.AddField("b", "x y");
  EXPECT_EQ(set.ToQueryText(), "a=1&b=x y");
  EXPECT_EQ(set.ToQueryText(true), "a=1&b=x+y");
  EXPECT_EQ(set.ToHeaderText(), "a: 1\r\nb: x y");
  EXPECT_EQ(set.ToHeaderText(true), "a: 1\r\nb: x+y");
  EXPECT_EQ(set.ToJsonText(), R"({"a":"1","b":"x y"})");

  RequestFieldSet encoded;
  encoded.AddField("k&y", Gbk("中 文"));
  EXPECT_EQ(encoded.ToQueryText(true), "k%26y=%D6%D0+%CE%C4");
  EXPECT_EQ(encoded.ToHeaderText(true), "k&y: %D6%D0+%CE%C4");  // names never encoded
  // Empty names and values are pairs like any other.
  RequestFieldSet blanks;
  blanks.AddField("", "");
  blanks.AddField("", "");
  EXPECT_EQ(blanks.ToQueryText(), "=&=");
  EXPECT_EQ(blanks.ToJsonText(), R"({"":"","":""})");
}

TEST(RequestFieldSet, JsonEscapesOnlyQuotesInValues) {
  RequestFieldSet set;
  set.AddField("q\"n", "say \"hi\"");
  set.AddField("path", "C:\\dir");
  EXPECT_EQ(set.ToJsonText(), R"({"q"n":"say \"hi\"","path":"C:\dir"})");
  // A value that ends in a comma keeps it: only the separator after the last pair goes.
  RequestFieldSet comma;
  comma.AddField("a", ",");
  EXPECT_EQ(comma.ToJsonText(), R"({"a":","})");
  EXPECT_EQ(set.EscapeJsonValue("\"\""), "\\\"\\\"");
}

TEST(RequestFieldSet, ParseFieldsAppendsOnePairPerPart) {
  RequestFieldSet set;
  set.ParseFields("a=1&b=2");
  EXPECT_EQ(set.FieldNames(), (Texts{"a", "b"}));
  EXPECT_EQ(set.FieldValues(), (Texts{"1", "2"}));

  RequestFieldSet lead;
  lead.ParseFields("&a=1");
  EXPECT_EQ(lead.FieldNames(), (Texts{"", "a"}));
  EXPECT_EQ(lead.FieldValues(), (Texts{"", "1"}));

  RequestFieldSet trailing;
  trailing.ParseFields("a=1&");
  EXPECT_EQ(trailing.FieldNames(), (Texts{"a"}));

  RequestFieldSet middle;
  middle.ParseFields("a=1&&b=2");
  EXPECT_EQ(middle.FieldNames(), (Texts{"a", "", "b"}));

  RequestFieldSet nothing;
  nothing.ParseFields("");
  EXPECT_TRUE(nothing.FieldNames().empty());

  // Escapes are not decoded; parsing appends to what is there.
  set.ParseFields("q=%41+b");
  EXPECT_EQ(set.GetField("q"), "%41+b");
  EXPECT_EQ(set.FieldNames().size(), 3u);
}

TEST(RequestFieldSet, ParseFieldsKeepsEveryByteOfThePart) {
  RequestFieldSet set;
  // The value runs from the first "=" on, so padded Base64 survives.
  set.ParseFields("id=1=2&sig=YWI=&flag");
  EXPECT_EQ(set.FieldNames(), (Texts{"id", "sig", "flag"}));
  EXPECT_EQ(set.FieldValues(), (Texts{"1=2", "YWI=", ""}));
  RequestFieldSet gbk;
  gbk.ParseFields(Gbk("标题=新闻&乻=s"));
  EXPECT_EQ(gbk.GetField(Gbk("标题")), Gbk("新闻"));
  EXPECT_EQ(gbk.GetField("\x81\x73"), "s");
  // A lead byte always takes the byte after it, so a malformed pair hides "&" and "=".
  RequestFieldSet hidden;
  hidden.ParseFields("a=\x81&b=\x81=c");
  EXPECT_EQ(hidden.FieldNames(), (Texts{"a"}));
  EXPECT_EQ(hidden.FieldValues(), (Texts{"\x81&b=\x81=c"}));
}

TEST(RequestFieldSet, ParseFieldsConvertsToUtf8OnRequest) {
  RequestFieldSet set;
  set.ParseFields(Gbk("名=中"), true);
  EXPECT_EQ(set.FieldNames(), (Texts{"\xE5\x90\x8D"}));
  EXPECT_EQ(set.FieldValues(), (Texts{"\xE4\xB8\xAD"}));
}

TEST(RequestFieldSet, FirstMatchingNameOnly) {
  RequestFieldSet set;
  set.AddField("k", "1");
  set.AddField("k", "2");
  EXPECT_EQ(set.GetField("k"), "1");
  set.SetField("k", "3");
  EXPECT_EQ(set.FieldValues(), (Texts{"3", "2"}));
  set.RemoveField("k");
  EXPECT_EQ(set.FieldNames(), (Texts{"k"}));
  EXPECT_EQ(set.FieldValues(), (Texts{"2"}));
  set.RemoveField("absent");
  EXPECT_EQ(set.FieldNames().size(), 1u);
  // A missing name is appended by SetField, unconverted.
  set.SetField("new", Gbk("中"));
  EXPECT_EQ(set.ToQueryText(), "k=2&new=" + Gbk("中"));
  EXPECT_EQ(set.GetField("nope"), "");
}

TEST(RequestFieldSet, NamesCompareExactly) {
  RequestFieldSet set;
  set.AddField("User-Agent", "x");
  EXPECT_EQ(set.GetField("user-agent"), "");
  EXPECT_EQ(set.GetField("User-Agent "), "");
  EXPECT_EQ(set.GetField("User"), "");
  set.SetField("user-agent", "y");
  EXPECT_EQ(set.FieldNames(), (Texts{"User-Agent", "user-agent"}));
  // An empty name is a name like any other.
  set.AddField("", "blank");
  EXPECT_EQ(set.GetField(""), "blank");
}

TEST(RequestFieldSet, RemoveKeepsPairsInStep) {
  RequestFieldSet set;
  set.ParseFields("a=1&b=2&c=3");
  set.RemoveField("b");
  EXPECT_EQ(set.ToQueryText(), "a=1&c=3");
  set.ClearFields();
  EXPECT_EQ(set.ToJsonText(), "{}");
  set.AddField("z", "9");
  EXPECT_EQ(set.ToQueryText(), "z=9");
}

TEST(RequestFieldSet, ListsAndCopiesAreIndependent) {
  RequestFieldSet set;
  set.AddField("a", "1");
  Texts names = {"stale", "stale"};
  Texts returned = set.FieldNames(&names);
  EXPECT_EQ(names, (Texts{"a"}));
  EXPECT_EQ(returned, names);
  Texts values;
  set.FieldValues(&values);
  EXPECT_EQ(values, (Texts{"1"}));

  std::unique_ptr<RequestFieldSet> copy = set.Copy();
  copy->SetField("a", "changed");
  copy->AddField("b", "2");
  EXPECT_EQ(set.ToQueryText(), "a=1");
  EXPECT_EQ(copy->ToQueryText(), "a=changed&b=2");
  set.ClearFields();
  EXPECT_EQ(copy->GetField("a"), "changed");
}

TEST(RequestFieldSet, TrimAffixRemovesOnceAtEachEnd) {
  RequestFieldSet set;
  Text text = ",,a,,";
  EXPECT_EQ(set.TrimAffix(text, ","), ",a,");
  EXPECT_EQ(text, ",a,");
  Text untouched = "abc";
  EXPECT_EQ(set.TrimAffix(untouched, ""), "abc");
  Text whole = ",";
  EXPECT_EQ(set.TrimAffix(whole, ","), "");
  Text longer = "ab";
  EXPECT_EQ(set.TrimAffix(longer, "abc"), "ab");
  Text both = "xyx";
  EXPECT_EQ(set.TrimAffix(both, "x"), "y");
  // The end of 乻 (81 73) is not an "s".
  Text gbk = "s\x81\x73";
  EXPECT_EQ(set.TrimAffix(gbk, "s"), "\x81\x73");
}

TEST(RequestFieldSet, AddFieldConvertsToUtf8OnRequest) {
  RequestFieldSet set;
  set.AddField("name", "value", true);
  set.AddField("\xD6\xD0", "\xD6\xD0", true);
  set.AddField("\xD6\xD0", "\xD6\xD0", false);
  EXPECT_EQ(set.FieldNames(), (Texts{"name", "\xE4\xB8\xAD", "\xD6\xD0"}));
  EXPECT_EQ(set.FieldValues(), (Texts{"value", "\xE4\xB8\xAD", "\xD6\xD0"}));
}

TEST(GbkToUtf8, ConvertsUpToTheFirstZero) {
  EXPECT_EQ(GbkToUtf8(""), "");
  EXPECT_EQ(GbkToUtf8("abc"), "abc");
  EXPECT_EQ(GbkToUtf8(Gbk("早间新闻")), "早间新闻");
  EXPECT_EQ(GbkToUtf8(std::string_view("a\0\xD6\xD0", 4)), "a");
  EXPECT_EQ(GbkToUtf8("\xFF"), "?");
}

TEST(UrlEncode, KeepsTheUnreservedSetAndEncodesBytes) {
  EXPECT_EQ(UrlEncode("A-z_0.(*)'"), "A-z_0.(*)'");
  EXPECT_EQ(UrlEncode("!"), "%21");
  EXPECT_EQ(UrlEncode("~"), "%7E");
  EXPECT_EQ(UrlEncode("/"), "%2F");
  EXPECT_EQ(UrlEncode("\xD6\xD0"), "%D6%D0");
  EXPECT_EQ(UrlEncode("a b&c=d"), "a+b%26c%3Dd");
  EXPECT_EQ(UrlEncode("+%"), "%2B%25");
  EXPECT_EQ(UrlEncode(std::string_view("\0\xFF", 2)), "%00%FF");
  EXPECT_EQ(UrlEncode(""), "");
  // All 256 bytes: 69 kept, the space as "+", the other 186 as three bytes each.
  Text all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(UrlEncode(all).size(), 69u + 1u + 186u * 3u);
}

}  // namespace
}  // namespace newsbar
