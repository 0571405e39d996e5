// The probe's script reader and JSON writer.
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "apps/probe/json.h"
#include "apps/probe/script.h"
using probe::Command;
using probe::ControlRef;
using probe::Json;
using probe::ScriptError;
using probe::ScriptReader;
using probe::Target;
using probe::tokenize;

namespace {

// The line and reason of the ScriptError that reading `script` stops with.
std::string failure(const std::string& script) {
  std::istringstream in(script);
  ScriptReader reader(in);
  try {
    while (reader.next()) {
    }
  } catch (const ScriptError& e) {
    return e.message();
  }
  return "no error";
}

Command parse(const std::string& line) {
  auto c = probe::parseLine(line, 1);
  if (!c) throw std::runtime_error("blank line");
  return *c;
}

}  // namespace

TEST(ProbeScriptTokens, BlanksCommentsQuotesAndEscapes) {
  using V = std::vector<std::string>;
  const std::pair<const char*, V> cases[] = {
      {"  regset\tA\\B  x  ", {"regset", "A\\B", "x"}},
      {"dump # a comment \"with quote", {"dump"}},
      {"dump#glued", {"dump"}},
      {"   # only a comment", {}},
      {"", {}},
      {"type txt \"a # b\" # c", {"type", "txt", "a # b"}},
      {"settext x \"\"", {"settext", "x", ""}},
      {"dump\r", {"dump"}},  // a script saved with CRLF
      {R"("\"\\\r\b\e\t")", {"\"\\\r\b\x1b\t"}},
      {R"(a\e)", {"a\\e"}}};  // outside quotes a backslash is an ordinary character
  for (const auto& [line, words] : cases) EXPECT_EQ(tokenize(line, 1), words) << line;
}

TEST(ProbeScriptControls, FormsAndBadNames) {
  using K = Target::Kind;
  EXPECT_EQ(probe::parseControl("cboZoomRate", 1), (ControlRef{{K::Toolbar, 0}, "cboZoomRate", {}, ""}));
  EXPECT_EQ(probe::parseControl("optImgPos(33)", 1), (ControlRef{{K::Toolbar, 0}, "optImgPos", 33, ""}));
  EXPECT_EQ(probe::parseControl("Toolbar.MoveNext", 1), (ControlRef{{K::Toolbar, 0}, "Toolbar", {}, "MoveNext"}));
  EXPECT_EQ(probe::parseControl("photo:2.mnuPopClose", 1), (ControlRef{{K::Photo, 2}, "mnuPopClose", {}, ""}));
  EXPECT_EQ(probe::parseControl("background.fraX(0)", 1), (ControlRef{{K::Background, 0}, "fraX", 0, ""}));
  EXPECT_EQ(probe::parseControl("toolbar.Toolbar.Zoom", 1).key, "Zoom");
  EXPECT_EQ(probe::parseControl("photo:12.VScroll", 1).str(), "photo:12.VScroll");
  for (const char* bad : {"", "1abc", "opt(", "opt()", "opt(x)", "opt(-1)", "Toolbar.", "a-b", "photo:2", "photo:0.x",
                          "photo:x.y", "photo:2."}) {
    EXPECT_THROW(probe::parseControl(bad, 1), ScriptError) << bad;
  }
}

// The shapes the scenario scripts do not run end to end.
TEST(ProbeScriptCommands, FieldsOfEachShapeAndErrorsWithTheirLine) {
  Command c = parse("regset SOFTWARE\\Host Left dword -1  # all bits");
  EXPECT_EQ(c.numbers, std::vector<double>{4294967295.0});
  EXPECT_EQ(c.source, "regset SOFTWARE\\Host Left dword -1");
  EXPECT_FALSE(parse("call FireEventNewWin false").flag);
  EXPECT_TRUE(parse("updown updSecond up").flag);
  c = parse("scroll photo:3 H 120");
  EXPECT_EQ(c.target, (Target{Target::Kind::Photo, 3}));
  EXPECT_FALSE(c.flag);
  c = parse("move background -15 30");
  EXPECT_EQ(c.target.kind, Target::Kind::Background);
  EXPECT_EQ(c.numbers, (std::vector<double>{-15, 30}));
  EXPECT_EQ(parse("type txtSecond \"12\\b\"").text, "12\b");
  // Errors carry their line.
  const std::string ok = "dump\n# comment\n\n";  // lines 1-3
  const std::pair<const char*, const char*> cases[] = {
      {"type x \"abc", "unterminated quote"},
      {"type x \"abc\\", "unterminated quote"},
      {"type x \"a\\nb\"", "unknown escape \\n"},
      {"type x ab\"c\"", "a quote inside a word"},
      {"type x \"ab\"c", "a blank must follow a closing quote"},
      {"frobnicate", "unknown command: frobnicate"},
      {"screen 100", "usage: screen W H"},
      {"screen 100 x", "H must be a number: x"},
      {"screen 100 inf", "H must be a number: inf"},
      {"screen 1e3 5", "W must be a number: 1e3"},
      {"regset K N qword 1", "the value type must be sz or dword: qword"},
      {"regset K N dword 4294967296", "a dword must be a whole number from -2147483648 to 4294967295: 4294967296"},
      {"host list", "usage: host list FILE..."},
      {"host maybe", "unknown host behaviour: maybe"},
      {"host none extra", "usage: host ignore | host none"},
      {"call Launch", "unknown member: Launch"},
      {"call Style a b", "usage: call Style [WORD]"},
      {"call OpenImage a.jpg", "usage: call OpenImage PATH NAME"},
      {"call FireEventNewWin yes", "expected true or false: yes"},
      {"call FireEventThumbNav 256", "D must be a whole number from 0 to 255: 256"},
      {"dropdown cboZoomRate", "dropdown needs a toolbar button: Toolbar.KEY"},
      {"updown upd sideways", "expected up or down: sideways"},
      {"rightclick toolbar 1 2", "rightclick needs a photo window (photo:N): toolbar"},
      {"scroll photo:1 X 3", "expected V or H: X"},
      {"activate window", "unknown target (toolbar, background or photo:N): window"},
      {"keypress photo:-1 13", "the photo slot must be a whole number from 1 to 32767: -1"},
      {"advance -5", "time cannot go back: -5"},
  };
  for (const auto& [line, reason] : cases)
    EXPECT_EQ(failure(ok + line + "\ndump\n"), std::string("line 4: ") + reason) << line;
}

TEST(ProbeScriptCommands, EnvironmentOnlyBeforeTheFirstCallAndOneLineReadAtATime) {
  EXPECT_EQ(failure("screen 1 2\nregistry d\nregset K N sz v\ncall ShowForm\nregset K N sz w\nscreen 1 2\n"),
            "line 6: screen must come before the first call");
  EXPECT_EQ(failure("call UnloadForm\nregistry d\n"), "line 2: registry must come before the first call");
  // The lines before a bad one come out before the bad one is seen.
  std::istringstream in("dump\n  \ntab 2\nbogus\ndump\n");
  ScriptReader reader(in);
  EXPECT_EQ(reader.next()->line, 1);
  EXPECT_EQ(reader.next()->word, "tab");
  EXPECT_EQ(reader.lineNumber(), 3);
  EXPECT_THROW(reader.next(), ScriptError);
}

TEST(ProbeJson, NumbersInShortestFormStringsAndStructure) {
  const std::pair<float, const char*> singles[] = {{63.829788208f, "63.82979"},
                                                   {548.0f, "548"},
                                                   {100000.0f, "100000"},
                                                   {0.1f, "0.1"},
                                                   {-0.0f, "0"},
                                                   {-7.5f, "-7.5"},
                                                   {1e30f, "1e+30"}};
  for (const auto& [value, text] : singles) EXPECT_EQ(Json(value).dump(), text);
  EXPECT_EQ(Json(0.1).dump(), "0.1");
  EXPECT_EQ(Json(std::numeric_limits<float>::quiet_NaN()).dump(), "null");
  EXPECT_EQ(Json(4294967295u).dump(), "4294967295");
  EXPECT_EQ(Json(-2147483648LL).dump(), "-2147483648");
  // Every float reads back as itself.
  for (float f : {1.0f / 3, 12345.678f, 1e-7f, 3.4e38f, 15.0f * 4.3f})
    EXPECT_EQ(std::stof(probe::singleText(f)), f) << probe::singleText(f);
  // Strings are escaped and made valid UTF-8; objects keep their members' first places.
  EXPECT_EQ(Json("a\"b\\c\r\x1b").dump(), R"("a\"b\\c\u000d\u001b")");
  EXPECT_EQ(Json("Grüße €").dump(), "\"Grüße €\"");
  EXPECT_EQ(Json("x\xffy\xc3").dump(), "\"x\xEF\xBF\xBDy\xEF\xBF\xBD\"");
  EXPECT_EQ(Json(std::string("nul\0", 4)).dump(), R"("nul\u0000")");
  Json j = Json::object();
  j["z"] = 1;
  j["a"]["inner"] = true;
  j["list"].push(nullptr);
  j["list"].push(Json::array());
  j["z"] = "again";  // keeps its first place
  EXPECT_EQ(j.dump(), R"({"z":"again","a":{"inner":true},"list":[null,[]]})");
  EXPECT_THROW(j["list"]["key"], std::logic_error);
}
