// Every message a program prints, as its code writes it, stands in the
// README and in the program's manual page, and every message they document
// is printed by the code; the codes a numbered line of unpack shows are the
// same in both documents and take in those its end-to-end rows print.
//
// A message is a template: fixed text and holes. In the code a hole is a
// printf conversion, or a part of a pack usage error that is not a literal;
// in the README, a conversion (`%s`) or a word in angle brackets
// (`<drive>`); in a manual page, a word in italics. Two templates agree when
// one reads as the other, a hole of it standing for a hole of the other or
// for fixed text ("%s is %s, not a file" reads "%s is a FIFO, not a file").
//
// Where each document keeps its messages:
// - README.md: in the section "## <program>", every table whose first
//   column is headed "message"; each code span of that column is a message,
//   but those in parentheses (variants: "(also `--plan`)"). A column headed
//   "codes" lists the last-error codes of the line: the numbers outside
//   parentheses.
// - man/<program>.1: under DIAGNOSTICS, the tag of each .TP item (bold and
//   italic text outside parentheses). A description line that starts
//   "Codes:" lists the codes as the README does, to the end of the item.
#include <ctype.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/harness.h"
#include "tests/unpack_cases.h"

namespace {

const char kHole = '\x01';

struct Message {
  std::string text;  // the template, a hole as kHole
  std::string shown;  // as written where it was found
  std::string where;
  std::set<int> codes;
};

// A program, the folder of its code, and how a message looks there: a
// literal that is one line and starts with `prefix`, or the argument of a
// call to `wrapper`, which prints `prefix` before it.
struct Program {
  const char* name;
  const char* folder;
  const char* prefix;
  const char* wrapper;
};

const Program kPrograms[] = {
    {"unpack", "extractor", "", nullptr},
    {"Vellomar", "checker", "", nullptr},
    {"pack", "pack", "pack: ", "Usage"},
};

// A file of the source tree.
std::string TreeFile(const std::string& path) { return ReadFile(std::string(SOURCE_DIR) + "/" + path); }

// A printf conversion starting at s[i] ('%'): its length, 0 if none.
size_t ConversionLength(const std::string& s, size_t i) {
  size_t j = s.find_first_not_of("-+ #0123456789.*", i + 1);
  while (j < s.size() && strchr("hlzjtL", s[j])) ++j;
  return j < s.size() && strchr("diouxXcspfgeEm", s[j]) ? j + 1 - i : 0;
}

// The template of a printf format or of a README code span.
std::string Template(const std::string& s) {
  std::string t;
  for (size_t i = 0; i < s.size(); ++i) {
    size_t close = s[i] == '<' ? s.find('>', i) : std::string::npos;
    if (s.compare(i, 2, "%%") == 0) {
      t += '%', ++i;
    } else if (s[i] == '%' && ConversionLength(s, i)) {
      t += kHole, i += ConversionLength(s, i) - 1;
    } else if (close != std::string::npos && close > i + 1 &&
               s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", i + 1) == close) {
      t += kHole, i = close;
    } else {
      t += s[i];
    }
  }
  return t;
}

// True when `text` reads as `pattern`. A hole of the pattern stands for a
// hole of the text or for a run of its fixed text, or for one word that holds
// both ("-" and a hole for an option letter).
bool Fits(const char* text, const char* pattern) {
  if (*pattern != kHole) return *text == *pattern && (!*text || Fits(text + 1, pattern + 1));
  bool hole = false, space = false;
  for (size_t n = 1; text[n - 1] && !(hole && space); ++n) {
    hole = hole || text[n - 1] == kHole, space = space || text[n - 1] == ' ';
    if (!(hole && space) && Fits(text + n, pattern + 1)) return true;
  }
  return false;
}

bool Agree(const std::string& a, const std::string& b) {
  return Fits(a.c_str(), b.c_str()) || Fits(b.c_str(), a.c_str());
}

// The code's tokens: each string literal (adjacent ones joined, a PRI...
// macro between them read as its conversion letter), words and single
// punctuation characters; comments and character literals are dropped.
struct Token {
  bool literal;
  std::string text;
};

std::vector<Token> Tokens(const std::string& s) {
  std::vector<Token> out;
  bool joins = false;  // the last token is a literal that the next one extends
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 2, "//") == 0 || s[i] == '#') {
      i = s.find('\n', i);
    } else if (s.compare(i, 2, "/*") == 0) {
      i = s.find("*/", i) + 2;
    } else if (s[i] == '"' || s[i] == '\'') {
      std::string text;
      const char quote = s[i++];
      for (; s[i] != quote; ++i) {
        if (s[i] != '\\') text += s[i];
        else if (s[++i] == 'n') text += '\n';
        else if (s[i] == 'r') text += '\r';
        else if (s[i] == 't') text += '\t';
        else text += s[i];
      }
      ++i;
      if (quote == '"' && joins) out.back().text += text;
      else if (quote == '"') out.push_back(Token{true, text});
      joins = quote == '"';
    } else if (isalnum((unsigned char)s[i]) || s[i] == '_') {
      size_t end = i;
      while (end < s.size() && (isalnum((unsigned char)s[end]) || s[end] == '_')) ++end;
      const std::string word = s.substr(i, end - i);
      if (joins && word.compare(0, 3, "PRI") == 0) out.back().text += word[3];
      else out.push_back(Token{false, word}), joins = false;
      i = end;
    } else {
      if (!isspace((unsigned char)s[i])) out.push_back(Token{false, std::string(1, s[i])}), joins = false;
      ++i;
    }
  }
  return out;
}

// The message a call to the wrapper prints: its last argument, whose
// operands (joined by +) are literals or values, shown as %s. Empty when no
// operand is a literal (the wrapper's own definition).
std::string WrappedMessage(const std::vector<Token>& tokens, size_t open) {
  std::string message, literals;
  bool value = false, literal = false;
  for (size_t i = open + 1, depth = 0; i < tokens.size(); ++i) {
    const std::string t = tokens[i].literal ? "" : tokens[i].text;
    if (depth == 0 && (t == "," || t == "+" || t == ")")) {
      message += !literals.empty() ? literals : value ? "%s" : "";
      if (t == ",") message.clear(), literal = false;
      if (t == ")") break;
      literals.clear(), value = false;
      continue;
    }
    if (t == "(" || t == "[") ++depth;
    if (t == ")" || t == "]") --depth;
    if (tokens[i].literal) literals += tokens[i].text, literal = true;
    else value = true;
  }
  return literal ? message : std::string();
}

// The messages in the code of a program: each literal that is one line,
// starting with the program's prefix, and each call to its wrapper.
std::vector<Message> CodeMessages(const Program& p) {
  std::vector<Message> out;
  DIR* dir = opendir((std::string(SOURCE_DIR) + "/" + p.folder).c_str());
  for (struct dirent* e; dir && (e = readdir(dir));) {
    const std::string file = e->d_name, where = std::string(p.folder) + "/" + file;
    if (file.size() < 4 || file.compare(file.size() - 4, 4, ".cpp") != 0) continue;
    const std::vector<Token> tokens = Tokens(TreeFile(where));
    for (size_t i = 0; i < tokens.size(); ++i) {
      std::string line = tokens[i].text;
      if (tokens[i].literal && !line.empty() && line.find('\n') == line.size() - 1 &&
          line.compare(0, strlen(p.prefix), p.prefix) == 0) {
        line.erase(line.size() - (line.size() > 1 && line[line.size() - 2] == '\r' ? 2 : 1));
      } else if (p.wrapper && line == p.wrapper && i + 1 < tokens.size() && tokens[i + 1].text == "(" &&
                 !(line = WrappedMessage(tokens, i + 1)).empty()) {
        line = p.prefix + line;
      } else {
        continue;
      }
      out.push_back(Message{Template(line), line, where, {}});
    }
  }
  if (dir) closedir(dir);
  return out;
}

// The numbers of `text` that stand outside parentheses.
std::set<int> Codes(const std::string& text) {
  std::set<int> codes;
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
    if (depth == 0 && isdigit((unsigned char)text[i]) && (i == 0 || !isdigit((unsigned char)text[i - 1])))
      codes.insert(atoi(text.c_str() + i));
  }
  return codes;
}

// The cells of a table row, split at the bars outside code spans, trimmed.
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  bool code = false;
  for (size_t i = 1; i < row.size(); ++i) {
    if (row[i - 1] == '|' && !code) cells.emplace_back();
    code ^= row[i] == '`';
    if (row[i] != '|' || code) cells.back() += row[i];
  }
  for (std::string& c : cells) {
    const size_t from = c.find_first_not_of(' ');
    c = from == std::string::npos ? std::string() : c.substr(from, c.find_last_not_of(' ') + 1 - from);
  }
  return cells;
}

struct TableRow {
  std::vector<std::string> header, cells;
};

// The rows of the README's tables whose first column is headed `first`, in
// the section "## <program>" (in every section when `program` is empty).
std::vector<TableRow> ReadmeRows(const std::string& program, const std::string& first) {
  std::vector<TableRow> rows;
  std::istringstream readme(TreeFile("README.md"));
  std::string section;
  std::vector<std::string> header;
  for (std::string line; std::getline(readme, line);) {
    if (line.compare(0, 3, "## ") == 0) section = line.substr(3, line.find_first_of(": ", 3) - 3);
    if (line.empty() || line[0] != '|') {
      header.clear();
    } else if (header.empty()) {
      header = Cells(line);
    } else if (line.compare(0, 4, "|---") != 0 && header[0] == first &&
               (program.empty() || section == program)) {
      rows.push_back(TableRow{header, Cells(line)});
    }
  }
  return rows;
}

std::vector<Message> ReadmeMessages(const std::string& program) {
  std::vector<Message> out;
  for (const TableRow& row : ReadmeRows(program, "message")) {
    std::set<int> codes;
    for (size_t c = 0; c < row.header.size() && c < row.cells.size(); ++c)
      if (row.header[c] == "codes") codes = Codes(row.cells[c]);
    const std::string& first = row.cells[0];
    int depth = 0;
    for (size_t i = 0; i < first.size(); ++i) {
      depth += first[i] == '(' ? 1 : first[i] == ')' ? -1 : 0;
      size_t end = first[i] == '`' ? first.find('`', i + 1) : std::string::npos;
      if (end == std::string::npos) continue;
      const std::string span = first.substr(i + 1, end - i - 1);
      if (depth == 0) out.push_back(Message{Template(span), span, "README.md", codes});
      i = end;
    }
  }
  return out;
}

// A piece of a manual page's text in one font: 'B', 'I' or 'R'.
struct Run {
  char font;
  std::string text;
};

std::string Unescaped(const std::string& s) {
  static const struct {
    const char* escape;
    const char* text;
  } kEscapes[] = {{"\\-", "-"}, {"\\(dq", "\""}, {"\\(aq", "'"}, {"\\e", "\\"}, {"\\&", ""}, {"\\ ", " "}};
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    bool replaced = false;
    for (const auto& e : kEscapes)
      if (!replaced && s.compare(i, strlen(e.escape), e.escape) == 0)
        out += e.text, i += strlen(e.escape) - 1, replaced = true;
    if (!replaced) out += s[i];
  }
  return out;
}

// The runs of a line of text, with font changes (\fB, \fI, \fR, \fP) in it.
void AddText(const std::string& line, char font, std::vector<Run>* runs) {
  runs->push_back(Run{font, ""});
  for (size_t i = 0; i < line.size(); ++i) {
    if (line.compare(i, 2, "\\f") == 0 && i + 2 < line.size()) {
      runs->push_back(Run{line[i + 2] == 'P' ? 'R' : line[i + 2], ""});
      i += 2;
    } else {
      runs->back().text += line[i];
    }
  }
}

// The runs of a line: a font macro (.B, .I, .BI, .RB, ...: its arguments in
// turn in its fonts) or text.
std::vector<Run> Runs(const std::string& line) {
  std::vector<Run> runs;
  if (line.empty() || line[0] != '.') {
    AddText(line, 'R', &runs);
    return runs;
  }
  const std::string fonts = line.substr(1, line.find(' ') - 1);
  std::vector<std::string> args;
  for (size_t i = line.find(' '); i < line.size(); ++i) {
    if (line[i] == ' ') continue;
    const bool quoted = line[i] == '"';
    size_t end = quoted ? line.find('"', i + 1) : line.find(' ', i);
    if (end == std::string::npos) end = line.size();
    args.push_back(line.substr(i + quoted, end - i - quoted));
    i = end;
  }
  for (size_t a = 0; a < args.size(); ++a)
    AddText((fonts.size() == 1 && a > 0 ? " " : "") + args[a], fonts[a % fonts.size()], &runs);
  return runs;
}

// The messages of a .TP tag: bold and italic text (italic as a hole)
// outside parentheses, each ended by roman text.
std::vector<Message> TagMessages(const std::vector<Run>& runs, const std::string& where) {
  std::vector<Message> messages(1);
  int depth = 0;
  for (const Run& run : runs) {
    const std::string text = Unescaped(run.text);
    if (run.font == 'R' && !text.empty()) {
      for (char c : text) depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      if (!messages.back().text.empty()) messages.emplace_back();
    } else if (depth == 0 && !text.empty()) {
      messages.back().text += run.font == 'I' ? std::string(1, kHole) : text;
      messages.back().shown += run.font == 'I' ? "<" + text + ">" : text;
      messages.back().where = where;
    }
  }
  if (messages.back().text.empty()) messages.pop_back();
  return messages;
}

// What a manual page documents under DIAGNOSTICS.
std::vector<Message> ManMessages(const std::string& program) {
  std::vector<Message> out;
  const std::string where = "man/" + program + ".1";
  std::istringstream page(TreeFile(where) + ".SH END\n");
  bool diagnostics = false, tag = false;
  size_t first = 0;    // the first message of the current item
  std::string codes;  // from its line that starts "Codes:" to its end
  for (std::string line; std::getline(page, line);) {
    const bool ends = line == ".TP" || line == ".PP" || line.compare(0, 4, ".SH ") == 0;
    if (ends) {
      for (size_t m = first; m < out.size(); ++m) out[m].codes = Codes(codes);
      tag = line == ".TP", first = out.size(), codes.clear();
    }
    if (line.compare(0, 4, ".SH ") == 0) diagnostics = line == ".SH DIAGNOSTICS";
    if (!diagnostics || ends) continue;
    if (tag) {
      for (const Message& m : TagMessages(Runs(line), where)) out.push_back(m);
      tag = false;
    } else if (!codes.empty() || line.compare(0, 6, "Codes:") == 0) {
      codes += Unescaped(line) + " ";
    }
  }
  return out;
}

struct Document {
  const char* program;
  bool manual;  // its manual page, else the README
};

void PrintTo(const Document& d, std::ostream* os) { *os << d.program << (d.manual ? " manual" : " README"); }

class Documented : public ::testing::TestWithParam<Document> {};

TEST_P(Documented, AsPrinted) {
  const Document& d = GetParam();
  const Program* program = nullptr;
  for (const Program& p : kPrograms)
    if (d.program == std::string(p.name)) program = &p;
  const std::vector<Message> code = CodeMessages(*program);
  const std::vector<Message> documented = d.manual ? ManMessages(d.program) : ReadmeMessages(d.program);
  const std::string where = d.manual ? "man/" + std::string(d.program) + ".1" : "README.md";
  ASSERT_FALSE(code.empty());
  ASSERT_FALSE(documented.empty()) << where << " documents no message of " << d.program;
  for (const Message& m : code) {
    bool found = false;
    for (const Message& doc : documented) found = found || Agree(m.text, doc.text);
    EXPECT_TRUE(found) << d.program << " prints \"" << m.shown << "\" (" << m.where << "), which " << where
                       << " does not document";
  }
  for (const Message& doc : documented) {
    bool found = false;
    for (const Message& m : code) found = found || Agree(m.text, doc.text);
    EXPECT_TRUE(found) << where << " documents \"" << doc.shown << "\", which " << d.program
                       << " prints nowhere (" << program->folder << "/)";
    for (size_t i = 0; d.manual && i < doc.text.size(); ++i)
      EXPECT_EQ(doc.text[i] == '%' ? ConversionLength(doc.text, i) : 0, 0u)
          << where << ": \"" << doc.shown << "\" shows a printf conversion; write the value as a word in italics";
  }
}

INSTANTIATE_TEST_SUITE_P(Messages, Documented,
                         ::testing::Values(Document{"unpack", false}, Document{"unpack", true},
                                           Document{"Vellomar", false}, Document{"Vellomar", true},
                                           Document{"pack", false}, Document{"pack", true}),
                         [](const auto& info) {
                           return std::string(info.param.program) + (info.param.manual ? "_manual" : "_README");
                         });

std::string List(const std::set<int>& codes) {
  std::string list;
  for (int code : codes) list += (list.empty() ? "" : " ") + std::to_string(code);
  return "{" + list + "}";
}

// The codes of unpack's numbered lines, by line number.
std::map<int, std::set<int>> CodesByLine(const std::vector<Message>& messages) {
  std::map<int, std::set<int>> byLine;
  for (const Message& m : messages)
    if (m.text.compare(0, 6, "Line: ") == 0) byLine[atoi(m.text.c_str() + 6)] = m.codes;
  return byLine;
}

// A numbered line that ends in `%d` in the README shows a last-error code.
TEST(UnpackCodes, SameInBothDocumentsAndCoverTheRows) {
  const std::vector<Message> readme = ReadmeMessages("unpack");
  std::map<int, std::set<int>> inReadme = CodesByLine(readme), inManual = CodesByLine(ManMessages("unpack"));
  std::set<int> known;  // the numbers of the README's table of last-error numbers
  for (const TableRow& row : ReadmeRows("", "errno"))
    for (int code : Codes(row.cells[1])) known.insert(code);
  std::set<int> withCode;
  for (const Message& m : readme) {
    const size_t n = m.shown.size();
    if (m.shown.compare(0, 6, "Line: ") != 0 || n < 2 || m.shown.compare(n - 2, 2, "%d") != 0) continue;
    const int line = atoi(m.shown.c_str() + 6);
    withCode.insert(line);
    EXPECT_FALSE(m.codes.empty()) << "README.md lists no codes for line " << line;
    for (int code : m.codes)
      EXPECT_TRUE(known.count(code)) << "README.md: line " << line << " shows " << code
                                     << ", which the table of last-error numbers lacks";
  }
  std::set<int> lines;
  for (const auto& byLine : {inReadme, inManual})
    for (const auto& line : byLine) lines.insert(line.first);
  for (int line : lines)
    EXPECT_EQ(List(inReadme[line]), List(inManual[line]))
        << "line " << line << ": the codes of README.md, then those of man/unpack.1";
  for (const UnpackCase& c : UnpackCases()) {
    std::istringstream err(c.err);
    for (std::string line; std::getline(err, line);) {
      const int number = atoi(line.c_str() + (line.compare(0, 6, "Line: ") == 0 ? 6 : line.size()));
      if (!withCode.count(number)) continue;
      const int code = atoi(line.c_str() + line.rfind(' ') + 1);
      EXPECT_TRUE(inReadme[number].count(code)) << "the row \"" << c.name << "\" shows line " << number
                                                << " with " << code << ", which README.md does not list";
    }
  }
}

}  // namespace
