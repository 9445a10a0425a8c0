// Every message a program prints, as its code writes it, stands in the
// program's manual page under DIAGNOSTICS, and every message listed there is
// printed by the code; every code an end-to-end row of unpack shows on a
// numbered line is among those unpack(1) lists for that line.
//
// A message is a template: fixed text and holes. In the code a hole is a
// printf conversion, or an operand of a pack usage error that is not a
// literal; in a manual page, a word in italics. Two templates agree when one
// reads as the other, a hole of it standing for a hole of the other, for a
// run of fixed text ("%s is %s, not a file" reads "%s is a FIFO, not a
// file"), or for one word that holds both ("-" and a hole).
#include <ctype.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness.h"
#include "tests/unpack_cases.h"

namespace {

const char kHole = '\x01';

struct Message {
  std::string text;   // the template, a hole as kHole
  std::string where;  // the file it was found in
  std::string tag;    // in a manual page, the line it was read from
};

std::string TreeFile(const std::string& path) {
  return ReadFile(std::string(SOURCE_DIR) + "/" + path);
}

// The template of a printf format: each conversion a hole.
std::string Template(const std::string& format) {
  static const std::regex kConversion("%[-+ #0-9.*]*[hlzjtL]*[diouxXcspfgeEm]");
  return std::regex_replace(format, kConversion, std::string(1, kHole));
}

// A regular expression that matches the templates `t` reads as.
const std::regex& Pattern(const std::string& t) {
  static std::map<std::string, std::regex> built;
  auto found = built.find(t);
  if (found != built.end()) return found->second;
  std::string re;
  for (char c : t)
    re += c == kHole                       ? "([^\\x01]+|[^ ]*\\x01[^ ]*)"
          : strchr(".^$|()[]{}*+?\\/-", c) ? std::string("\\") + c
                                           : std::string(1, c);
  return built.emplace(t, std::regex(re)).first->second;
}

// A template as a failure shows it, a hole as <...>.
std::string Shown(const std::string& t) {
  return std::regex_replace(t, std::regex("\x01"), "<...>");
}

bool Agree(const std::string& a, const std::string& b) {
  return std::regex_match(b, Pattern(a)) || std::regex_match(a, Pattern(b));
}

std::string Unescaped(const std::string& literal) {
  std::string out;
  for (size_t i = 0; i < literal.size(); ++i) {
    if (literal[i] != '\\') {
      out += literal[i];
      continue;
    }
    const char c = literal[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

// The messages in the code of a program: each string literal (adjacent ones
// joined, a PRI macro between them read as its conversion letter) that is
// one line and starts with `prefix`; and, for pack, each call
// `Usage(err, a + b ...)`, whose operands are literals or values.
std::vector<Message> CodeMessages(const std::string& folder, const std::string& prefix) {
  static const std::string kLiteral = "\"(?:[^\"\\\\\\n]|\\\\.)*\"";
  static const std::regex kLiterals(kLiteral + "(?:\\s*(?:PRI\\w+\\s*)?" + kLiteral + ")*");
  static const std::regex kJoint("\"\\s*(?:PRI(\\w)\\w*\\s*)?\"");
  static const std::regex kComment("(^|\n)\\s*//[^\n]*");
  static const std::regex kUsage("Usage\\(err, ([^;]*)\\);");
  std::vector<Message> out;
  for (const auto& file :
       std::filesystem::directory_iterator(std::string(SOURCE_DIR) + "/" + folder)) {
    if (file.path().extension() != ".cpp") continue;
    const std::string where = folder + "/" + file.path().filename().string();
    const std::string code = std::regex_replace(TreeFile(where), kComment, "$1");
    for (std::sregex_iterator m(code.begin(), code.end(), kLiterals), end; m != end; ++m) {
      std::string text =
          Unescaped(std::regex_replace(m->str(0).substr(1, m->length(0) - 2), kJoint, "$1"));
      if (text.empty() || text.compare(0, prefix.size(), prefix) != 0 ||
          text.find('\n') != text.size() - 1)
        continue;
      text.erase(text.find_last_not_of("\r\n") + 1);
      out.push_back(Message{Template(text), where, ""});
    }
    for (std::sregex_iterator m(code.begin(), code.end(), kUsage), end; m != end; ++m) {
      std::string text = prefix;
      std::istringstream operands(m->str(1));
      for (std::string operand; std::getline(operands, operand, '+');) {
        operand.erase(0, operand.find_first_not_of(' '));
        operand.erase(operand.find_last_not_of(' ') + 1);
        text += operand[0] == '"' ? Unescaped(operand.substr(1, operand.size() - 2))
                                  : std::string(1, kHole);
      }
      out.push_back(Message{Template(text), where, ""});
    }
  }
  return out;
}

// The messages of a manual page and the codes of each: the tag of each .TP
// item under DIAGNOSTICS, its bold text as is and its italic text a hole, up
// to the first roman text; codes are the numbers outside parentheses from a
// line of the item that starts "Codes:" to its end.
struct Documented {
  std::vector<Message> messages;
  std::map<std::string, std::string> codes;  // by message, the text from "Codes:" on
};

std::string TagTemplate(const std::string& line) {
  static const std::regex kArgument("\"([^\"]*)\"|(\\S+)");
  static const struct {
    const char* escape;
    const char* text;
  } kEscapes[] = {{"\\-", "-"}, {"\\(dq", "\""}, {"\\e", "\\"}, {"\\&", ""}};
  std::string tagged;  // the tag with inline font changes
  if (line[0] == '.') {
    const std::string fonts = line.substr(1, line.find(' ') - 1);
    const std::string args = line.substr(line.find(' '));
    size_t n = 0;
    for (std::sregex_iterator a(args.begin(), args.end(), kArgument), end; a != end; ++a, ++n)
      tagged += std::string("\\f") + fonts[n % fonts.size()] + (fonts.size() == 1 && n ? " " : "") +
                (*a)[(*a)[1].matched ? 1 : 2].str();
  } else {
    tagged = line;
  }
  std::string text;
  char font = 'R';
  for (size_t i = 0; i < tagged.size(); ++i) {
    if (tagged.compare(i, 2, "\\f") == 0) {
      font = tagged[i += 2];
      if (font == 'R' && !text.empty()) break;
      if (font == 'I') text += kHole;
    } else if (font == 'B') {
      text += tagged[i];
    }
  }
  for (const auto& e : kEscapes)
    for (size_t at = 0; (at = text.find(e.escape, at)) != std::string::npos; at += strlen(e.text))
      text.replace(at, strlen(e.escape), e.text);
  return text;
}

std::set<int> Codes(const std::string& text) {
  std::set<int> codes;
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
    if (depth == 0 && isdigit((unsigned char)text[i]) &&
        (i == 0 || !isdigit((unsigned char)text[i - 1])))
      codes.insert(atoi(text.c_str() + i));
  }
  return codes;
}

Documented ManPage(const std::string& program) {
  Documented d;
  const std::string where = "man/" + program + ".1";
  std::istringstream page(TreeFile(where));
  bool diagnostics = false, tag = false, codes = false;
  for (std::string line; std::getline(page, line);) {
    if (line.compare(0, 4, ".SH ") == 0) diagnostics = line == ".SH DIAGNOSTICS";
    if (line == ".TP" || line == ".PP" || line.compare(0, 4, ".SH ") == 0) {
      tag = line == ".TP" && diagnostics, codes = false;
    } else if (tag) {
      d.messages.push_back(Message{TagTemplate(line), where, line});
      tag = false;
    } else if (diagnostics && !d.messages.empty() && (codes || line.compare(0, 6, "Codes:") == 0)) {
      codes = true;
      d.codes[d.messages.back().text] += line + " ";
    }
  }
  return d;
}

struct Program {
  const char* name;
  const char* folder;
  const char* prefix;  // of every message it prints
};

void PrintTo(const Program& p, std::ostream* os) { *os << p.name; }

class MessagesOf : public ::testing::TestWithParam<Program> {};

TEST_P(MessagesOf, StandInItsManualPage) {
  const Program& p = GetParam();
  const std::vector<Message> code = CodeMessages(p.folder, p.prefix);
  const std::vector<Message> documented = ManPage(p.name).messages;
  ASSERT_FALSE(code.empty());
  ASSERT_FALSE(documented.empty()) << "man/" << p.name << ".1 lists no message under DIAGNOSTICS";
  for (const Message& m : code) {
    bool found = false;
    for (const Message& doc : documented) found = found || Agree(m.text, doc.text);
    EXPECT_TRUE(found) << p.name << " prints \"" << Shown(m.text) << "\" (" << m.where
                       << "), which man/" << p.name << ".1 does not list";
  }
  for (const Message& doc : documented) {
    bool found = false;
    for (const Message& m : code) found = found || Agree(m.text, doc.text);
    EXPECT_TRUE(found) << doc.where << " lists \"" << Shown(doc.text) << "\", which " << p.name
                       << " prints nowhere (" << p.folder << "/)";
    EXPECT_EQ(doc.text.find('%'), std::string::npos)
        << doc.where << ": \"" << Shown(doc.text)
        << "\" shows a printf conversion; write the value as a word in italics";
  }
}

INSTANTIATE_TEST_SUITE_P(Messages, MessagesOf,
                         ::testing::Values(Program{"unpack", "extractor", ""},
                                           Program{"Vellomar", "checker", ""},
                                           Program{"pack", "pack", "pack: "}),
                         [](const auto& info) { return std::string(info.param.name); });

// A numbered line whose message ends in a code lists its codes in unpack(1),
// and every code an end-to-end row shows on it is among them.
TEST(UnpackCodes, ListedForEveryNumberedLineTheRowsShow) {
  const Documented page = ManPage("unpack");
  std::map<int, std::set<int>> byLine;
  for (const Message& m : page.messages) {
    if (m.text.compare(0, 6, "Line: ") != 0 || m.tag.size() < 5 ||
        m.tag.compare(m.tag.size() - 5, 5, " code") != 0)
      continue;
    const auto codes = page.codes.find(m.text);
    ASSERT_TRUE(codes != page.codes.end())
        << "man/unpack.1 lists no codes for \"" << Shown(m.text) << "\"";
    byLine[atoi(m.text.c_str() + 6)] = Codes(codes->second);
  }
  ASSERT_FALSE(byLine.empty());
  for (const UnpackCase& c : UnpackCases()) {
    std::istringstream err(c.err);
    for (std::string line; std::getline(err, line);) {
      if (line.compare(0, 6, "Line: ") != 0 || !byLine.count(atoi(line.c_str() + 6))) continue;
      const int number = atoi(line.c_str() + 6), code = atoi(line.c_str() + line.rfind(' ') + 1);
      EXPECT_TRUE(byLine[number].count(code))
          << "the row \"" << c.name << "\" shows line " << number << " with " << code
          << ", which man/unpack.1 does not list";
    }
  }
}

}  // namespace
