#include "tests/checker_cases.h"

const std::string kAnyCount = "<count>";

namespace {

const std::string kUsage =
    "Vellomar [-drive <drive>] [-required <bytes>] [-find <file>] [-free] [-help]\n";
const std::string kOk = "OK\n";
const std::string kTooLong = "Vellomar - drive path longer than 259 characters\n";

// The report and the not-enough line of the volume that holds C:\, whose
// free count no row can know.
const std::string kRootReport = "Vellomar - drive C:\\ has " + kAnyCount + " bytes free\n";
const std::string kRootNotEnough = "Vellomar - not enough free space ( " + kAnyCount + " bytes )\n";

// `count` arguments: `pair` repeated, then `last`.
std::vector<std::string> Repeated(const std::vector<std::string>& pair, size_t count,
                                  const std::vector<std::string>& last) {
  std::vector<std::string> args;
  while (args.size() + last.size() < count) args.insert(args.end(), pair.begin(), pair.end());
  args.insert(args.end(), last.begin(), last.end());
  return args;
}

std::vector<CheckerCase> MakeCases() {
  const std::string drive259(259, 'd');
  const std::string drive260(260, 'd');
  const std::string drive300(300, 'd');
  const std::vector<Before> present = {{"present.txt", "here"}};
  const Volume small = Volume::kSmall, large = Volume::kLarge;
  return {
      // Usage.
      {"no arguments", {}, {}, kUsage, 1},
      {"-help", {"-help"}, {}, kUsage, 1},
      {"-HELP", {"-HELP"}, {}, kUsage, 1},
      {"-help ends the run before the query", {"-drive", "missing", "-free", "-help"}, {}, kUsage, 1},
      {"unknown option", {"-x"}, {}, "Vellomar - don't know \"-x\"\n" + kUsage, 1},
      {"-free -x: no report", {"-free", "-x"}, {}, "Vellomar - don't know \"-x\"\n" + kUsage, 1},
      {"a word that is not an option",
       {"-required", "0", "extra"},
       {},
       "Vellomar - don't know \"extra\"\n" + kUsage,
       1},
      {"a slash is not an option's mark", {"/free"}, {}, "Vellomar - don't know \"/free\"\n" + kUsage, 1},
      {"options are whole words", {"-freedom"}, {}, "Vellomar - don't know \"-freedom\"\n" + kUsage, 1},
      {"an empty argument", {""}, {}, "Vellomar - don't know \"\"\n" + kUsage, 1},
      {"a drive root alone is not an option",
       {"C:\\"},
       {},
       "Vellomar - don't know \"C:\\\"\n" + kUsage,
       1},

      // The default volume, C:\, whose free count is unknown here.
      {"-free alone: the report and nothing more", {"-free"}, {}, kRootReport, 1},
      {"-Free is -free", {"-Free"}, {}, kRootReport, 1},
      {"-free twice reports once", {"-free", "-FREE"}, {}, kRootReport, 1},
      {"-required 0 passes", {"-required", "0"}, {}, kOk, 0},
      {"-REQUIRED is -required", {"-REQUIRED", "0"}, {}, kOk, 0},
      {"-required abc asks for 0", {"-required", "abc"}, {}, kOk, 0},
      {"-required -1 asks for 2^64 - 1", {"-required", "-1"}, {}, kRootNotEnough, 1},
      {"-required 18446744073709551615", {"-required", "18446744073709551615"}, {}, kRootNotEnough, 1},
      {"-required 2^64 wraps to 0", {"-required", "18446744073709551616"}, {}, kOk, 0},
      {"-required -free takes -free as its value", {"-required", "-free"}, {}, kOk, 0},
      {"-free with -required 0: report, then OK", {"-free", "-required", "0"}, {}, kRootReport + kOk, 0},
      {"-drive C:\\ named", {"-drive", "C:\\", "-required", "0"}, {}, kOk, 0},
      {"-drive c: is printed as given",
       {"-drive", "c:", "-free"},
       {},
       "Vellomar - drive c: has " + kAnyCount + " bytes free\n",
       1},
      {"-drive . is a directory on a volume", {"-drive", ".", "-required", "0"}, {}, kOk, 0},

      // Options without their value, and later values.
      {"trailing -required has no effect", {"-required"}, {}, "", 1},
      {"trailing -find has no effect", {"-find"}, {}, "", 1},
      {"trailing -drive has no effect", {"-drive"}, {}, "", 1},
      {"trailing -required keeps the earlier value",
       {"-required", "-1", "-required"},
       {},
       kRootNotEnough,
       1},
      {"trailing -find keeps the earlier name",
       {"-find", "absent.txt", "-find"},
       {},
       "Vellomar - absent.txt not found\n",
       1},
      {"trailing -drive keeps the earlier path",
       {"-drive", "missing", "-drive"},
       {},
       "Vellomar - can't access drive \"missing\"\n",
       1},
      {"a later -required replaces an earlier one", {"-required", "-1", "-required", "0"}, {}, kOk, 0},
      {"-drive -help takes -help as the path",
       {"-drive", "-help"},
       {},
       "Vellomar - can't access drive \"-help\"\n",
       1},
      {"-find -free looks for a file named -free",
       {"-find", "-free"},
       {},
       "Vellomar - -free not found\n",
       1},

      // The volume cannot be queried.
      {"a file is not a drive", {"-drive", "a", "-required", "1"}, {{"a", "x"}},
       "Vellomar - can't access drive \"a\"\n", 1},
      {"missing -drive", {"-drive", "missing", "-required", "0"}, {},
       "Vellomar - can't access drive \"missing\"\n", 1},
      {"missing -drive: no report", {"-free", "-drive", "missing"}, {},
       "Vellomar - can't access drive \"missing\"\n", 1},
      {"missing -drive wins over a present -find",
       {"-drive", "missing", "-find", "present.txt"},
       present,
       "Vellomar - can't access drive \"missing\"\n",
       1},
      {"missing -drive without a test still queried", {"-drive", "missing"}, {},
       "Vellomar - can't access drive \"missing\"\n", 1},
      {"-drive of 259 characters is taken",
       {"-drive", drive259},
       {},
       "Vellomar - can't access drive \"" + drive259 + "\"\n",
       1},

      // A -drive value too long for the volume path.
      {"-drive of 260 characters is refused", {"-drive", drive260, "-required", "0"}, {}, kTooLong, 1},
      {"-drive of 300 characters is refused", {"-drive", drive300, "-required", "0"}, {}, kTooLong, 1},
      {"-drive of 300 characters is refused before the presence test",
       {"-drive", drive300, "-find", "present.txt"},
       present,
       kTooLong,
       1},
      {"-drive of 300 characters is refused without a test", {"-drive", drive300}, {}, kTooLong, 1},
      {"-drive of 300 characters, then a valid -drive",
       {"-drive", drive300, "-drive", "C:\\", "-required", "0"},
       {},
       kOk,
       0},
      {"a valid -drive, then one of 300 characters",
       {"-drive", "C:\\", "-drive", drive300, "-required", "0"},
       {},
       kTooLong,
       1},
      {"a usage error wins over a long -drive",
       {"-drive", drive300, "-x"},
       {},
       "Vellomar - don't know \"-x\"\n" + kUsage,
       1},
      {"-help wins over a long -drive", {"-drive", drive300, "-help"}, {}, kUsage, 1},

      // Every line with exact bytes: vol is an empty 1 MiB volume.
      {"-drive vol -free", {"-drive", "vol", "-free"}, {}, "Vellomar - drive vol has 1048576 bytes free\n",
       1, small},
      {"-DRIVE vol -FrEe", {"-DRIVE", "vol", "-FrEe"}, {}, "Vellomar - drive vol has 1048576 bytes free\n",
       1, small},
      {"-drive vol/ is printed as given", {"-drive", "vol/", "-free"}, {},
       "Vellomar - drive vol/ has 1048576 bytes free\n", 1, small},
      {"required exactly the free count", {"-drive", "vol", "-required", "1048576"}, {}, kOk, 0, small},
      {"required one byte more than free", {"-drive", "vol", "-required", "1048577"}, {},
       "Vellomar - not enough free space ( 1048576 bytes )\n", 1, small},
      {"-required 4294967296 asks for 4 GiB, not 0", {"-drive", "vol", "-required", "4294967296"}, {},
       "Vellomar - not enough free space ( 1048576 bytes )\n", 1, small},
      {"-required -1048576 asks for 2^64 - 2^20", {"-drive", "vol", "-required", "-1048576"}, {},
       "Vellomar - not enough free space ( 1048576 bytes )\n", 1, small},
      {"-required with white space and a plus sign", {"-drive", "vol", "-required", " \t+1048576"}, {},
       kOk, 0, small},
      {"-required stops at the first non-digit", {"-drive", "vol", "-required", "1048577x"}, {},
       "Vellomar - not enough free space ( 1048576 bytes )\n", 1, small},
      {"-required with 30 digits, leading zeros",
       {"-drive", "vol", "-required", "000000000000000000000001048576"}, {}, kOk, 0, small},
      {"-required -0", {"-drive", "vol", "-required", "-0"}, {}, kOk, 0, small},
      {"report, then OK", {"-drive", "vol", "-free", "-required", "1024"}, {},
       "Vellomar - drive vol has 1048576 bytes free\n" + kOk, 0, small},
      {"report, then not enough", {"-free", "-required", "2000000", "-drive", "vol"}, {},
       "Vellomar - drive vol has 1048576 bytes free\n"
       "Vellomar - not enough free space ( 1048576 bytes )\n",
       1, small},
      {"a file on the volume takes its pages", {"-drive", "vol", "-free"}, {{"vol/data", std::string(102400, 'x')}},
       "Vellomar - drive vol has 946176 bytes free\n", 1, small},
      {"a later -drive replaces a missing one", {"-drive", "missing", "-drive", "vol", "-free"}, {},
       "Vellomar - drive vol has 1048576 bytes free\n", 1, small},
      {"a later -drive replaces a good one", {"-drive", "vol", "-drive", "missing", "-free"}, {},
       "Vellomar - can't access drive \"missing\"\n", 1, small},
      {"-drive of 300 characters, then vol", {"-drive", drive300, "-drive", "vol", "-free"}, {},
       "Vellomar - drive vol has 1048576 bytes free\n", 1, small},

      // Free counts beyond 32 bits: vol is an empty 5 GiB volume.
      {"5 GiB free reported in full", {"-drive", "vol", "-free"}, {},
       "Vellomar - drive vol has 5368709120 bytes free\n", 1, large},
      {"2 GiB required of 5 GiB free", {"-drive", "vol", "-required", "2147483648"}, {}, kOk, 0, large},
      {"4 GiB + 1 required of 5 GiB free", {"-drive", "vol", "-required", "4294967297"}, {}, kOk, 0, large},
      {"one byte more than 5 GiB required", {"-drive", "vol", "-required", "5368709121"}, {},
       "Vellomar - not enough free space ( 5368709120 bytes )\n", 1, large},

      // The presence test.
      {"-find a present file", {"-find", "present.txt"}, present, kOk, 0},
      {"-FIND is -find", {"-FIND", "present.txt"}, present, kOk, 0},
      {"a present file wins over a too large -required", {"-required", "-1", "-find", "present.txt"},
       present, kOk, 0},
      {"report, then a present file wins", {"-drive", "vol", "-free", "-required", "2000000", "-find",
       "present.txt"}, present, "Vellomar - drive vol has 1048576 bytes free\n" + kOk, 0, small},
      {"-find an absent file", {"-find", "absent.txt"}, present, "Vellomar - absent.txt not found\n", 1},
      {"-find an absent file: -required 0 decides", {"-find", "absent.txt", "-required", "0"}, present,
       kOk, 0},
      {"-find an absent file: -required -1 decides", {"-find", "absent.txt", "-required", "-1"}, present,
       kRootNotEnough, 1},
      {"-find an absent file: not enough on vol",
       {"-drive", "vol", "-find", "absent.txt", "-required", "1048577"}, present,
       "Vellomar - not enough free space ( 1048576 bytes )\n", 1, small},
      {"-find an absent file after the report", {"-drive", "vol", "-free", "-find", "absent.txt"}, {},
       "Vellomar - drive vol has 1048576 bytes free\nVellomar - absent.txt not found\n", 1, small},
      {"-find with *", {"-find", "*.txt"}, present, kOk, 0},
      {"-find with ?", {"-find", "pre?ent.tx?"}, present, kOk, 0},
      {"-find with * alone", {"-find", "*"}, present, kOk, 0},
      {"-find with wildcards in a folder", {"-find", "sub/*.l?g"}, {{"sub/x.log", ""}}, kOk, 0},
      {"-find with a wildcard that matches nothing", {"-find", "*.log"}, present,
       "Vellomar - *.log not found\n", 1},
      {"-find a directory", {"-find", "dir"}, {{"dir", kDirectory}}, kOk, 0},
      {"-find a file in a folder", {"-find", "dir/f"}, {{"dir/f", "f"}}, kOk, 0},
      {"-find in a missing folder", {"-find", "missing/present.txt"}, present,
       "Vellomar - missing/present.txt not found\n", 1},
      {"-find an empty file", {"-find", "empty"}, {{"empty", ""}}, kOk, 0},
      {"-find a*.* finds a name without a dot", {"-find", "a*.*"}, {{"a", ""}}, kOk, 0},
      {"a later -find replaces an earlier one", {"-find", "present.txt", "-find", "absent.txt"}, present,
       "Vellomar - absent.txt not found\n", 1},
      {"a later present -find replaces an absent one", {"-find", "absent.txt", "-find", "present.txt"},
       present, kOk, 0},

      // Many arguments.
      {"10,000 arguments: the last -required counts",
       Repeated({"-required", "-1"}, 10000, {"-required", "0"}), {}, kOk, 0, Volume::kAny, true},
      {"10,000 arguments: an unknown one last",
       Repeated({"-free"}, 10000, {"-x"}), {}, "Vellomar - don't know \"-x\"\n" + kUsage, 1,
       Volume::kAny, true},
      {"10,000 arguments: an unknown one first",
       Repeated({"y"}, 10000, {}), {}, "Vellomar - don't know \"y\"\n" + kUsage, 1},
  };
}

}  // namespace

const std::vector<CheckerCase>& CheckerCases() {
  static const std::vector<CheckerCase> cases = MakeCases();
  return cases;
}

uint64_t VolumeBytes(Volume volume) {
  switch (volume) {
    case Volume::kSmall:
      return 1ull << 20;
    case Volume::kLarge:
      return 5ull << 30;
    case Volume::kAny:
      break;
  }
  return 0;
}

bool MatchesOutput(const std::string& expected, const std::string& actual) {
  size_t e = 0, a = 0;
  while (e < expected.size()) {
    if (expected.compare(e, kAnyCount.size(), kAnyCount) == 0) {
      size_t digits = 0;
      while (a + digits < actual.size() && actual[a + digits] >= '0' && actual[a + digits] <= '9')
        ++digits;
      if (digits == 0) return false;
      a += digits;
      e += kAnyCount.size();
    } else {
      if (a >= actual.size() || actual[a] != expected[e]) return false;
      ++a, ++e;
    }
  }
  return a == actual.size();
}
