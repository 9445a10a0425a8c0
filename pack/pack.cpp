// pack: writes a package stream of the named files, lists one, tells what
// installing one would do, or checks an install against one.
//
// Usage: pack [-0qvw] [-C DIR] [-o FILE] [-T LIST] PATH...
//        pack -t [-qv] [PACKAGE]
//        pack --plan PREFIX [--mkdirs] [-q] [PACKAGE]
//        pack --verify PREFIX [-q] [PACKAGE]
//
// Each PATH names a file or a folder; a folder stands for every file under
// it, at any depth. An entry's name is the file's path as given, looked up
// under DIR when -C is used (DIR itself is not part of the names), with "/"
// between folders, or "\" with -w for packages meant for Windows. The
// package goes to standard output (never a terminal), or with -o to FILE
// (writer.cpp). A PACKAGE to read comes from the file named, or from
// standard input (never a terminal): -t lists it (listing.cpp), --plan
// foretells unpack (plan.cpp), --verify compares an install with it
// (verify.cpp). Long work shows its progress on a terminal.
//
// Messages go to the error stream, each starting "pack: ".
#include "pack/pack.h"

#include <errno.h>
#include <getopt.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "pack/listing.h"
#include "pack/names.h"
#include "pack/options.h"
#include "pack/plan.h"
#include "pack/verify.h"
#include "pack/writer.h"
#include "platform/tool.h"

namespace {

const char kUsage[] =
    "usage: pack [-0qvw] [-C DIR] [-o FILE] [-T LIST] PATH...\n"
    "       pack -t [-qv] [PACKAGE]\n"
    "       pack --plan PREFIX [--mkdirs] [-q] [PACKAGE]\n"
    "       pack --verify PREFIX [-q] [PACKAGE]\n";
const char kHelp[] =
    "Writes a package of the files the PATHs name (a folder stands for every\n"
    "file under it), lists one, tells what installing one would do, or checks\n"
    "an install against one.\n"
    "\n"
    "  -o, --output=FILE       write the package to FILE (through FILE.partial)\n"
    "                          instead of standard output\n"
    "  -C, --directory=DIR     look up the PATHs that follow under DIR; their\n"
    "                          names in the package leave DIR out\n"
    "  -T, --files-from=LIST   read more PATHs from the file LIST (- for\n"
    "                          standard input), one per line\n"
    "  -0, --null              the PATHs of -T are separated by NUL bytes\n"
    "  -w, --windows           write \\ between folders in names, for Windows\n"
    "                          (the default of pack.exe)\n"
    "      --slashes           pack.exe: write / between folders in names, and\n"
    "                          show names and paths as pack on Linux does\n"
    "  -v, --verbose           list each entry as it is packed (on standard\n"
    "                          error when the package goes to standard output);\n"
    "                          with -t, list each entry's size too\n"
    "  -q, --quiet             show no progress line on a terminal\n"
    "  -t, --list              check the structure of the package in PACKAGE\n"
    "                          (or on standard input) and list its entries\n"
    "      --plan=PREFIX       tell what unpack -destdir PREFIX would do here\n"
    "                          with each entry of PACKAGE, the folders to make\n"
    "                          and the free space it needs; changes nothing\n"
    "      --mkdirs            with --plan: make the missing folders\n"
    "      --verify=PREFIX     compare the files under PREFIX with the entries\n"
    "                          of PACKAGE: same, differs, missing, not a file,\n"
    "                          and staged copies left by a stopped run\n"
    "  -h, --help              show this help\n"
    "      --version           show the version\n"
    "  --                      what follows is a PATH, even if it begins with -\n"
    "\n"
    "Names and paths are shown with control characters and \\ escaped as in C.\n"
    "Exit status: 0 success, 1 a malformed package, a failed run, a plan that\n"
    "stops, cannot tell or takes an entry away, or an install that differs,\n"
    "2 a usage error.\n";
const char kVersionText[] = "pack 1.1\n";

bool Usage(FILE* err, const std::string& message) {
  fprintf(err, "pack: %s\n%s", message.c_str(), kUsage);
  return false;
}

// Which of -t, --plan and --verify were given, as the messages name them.
std::string ReadingModes(const Options& o) {
  std::string modes;
  const char* given[] = {o.list ? "-t" : nullptr, o.plan ? "--plan" : nullptr,
                         o.verify ? "--verify" : nullptr};
  for (const char* mode : given)
    if (mode) modes += (modes.empty() ? "" : " and ") + std::string(mode);
  return modes;
}

// The checks of options that read a package, once they are all known.
bool CheckReadingOptions(const Options& o, FILE* err) {
  const std::string modes = ReadingModes(o);
  if (modes.find(" and ") != std::string::npos) return Usage(err, modes + " do not go together");
  if (o.packOptions || (o.verbose && !o.list))
    return Usage(err, modes + " takes none of the options that write a package");
  if (o.paths.size() > 1) return Usage(err, modes + " reads one package");
  return true;
}

bool ParseArguments(int argc, char** argv, Options* o, FILE* err) {
  enum { kPlan = 256, kMkdirs, kVerify, kVersion, kSlashes };
  static const struct option kLong[] = {
      {"output", required_argument, nullptr, 'o'},     {"directory", required_argument, nullptr, 'C'},
      {"files-from", required_argument, nullptr, 'T'}, {"null", no_argument, nullptr, '0'},
      {"windows", no_argument, nullptr, 'w'},          {"slashes", no_argument, nullptr, kSlashes},
      {"verbose", no_argument, nullptr, 'v'},
      {"quiet", no_argument, nullptr, 'q'},            {"list", no_argument, nullptr, 't'},
      {"plan", required_argument, nullptr, kPlan},     {"mkdirs", no_argument, nullptr, kMkdirs},
      {"verify", required_argument, nullptr, kVerify}, {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},     {nullptr, 0, nullptr, 0}};
  const char* dir = nullptr;
  // "-": the PATHs come back in their place among the options, so that a -C
  // applies to those after it; ":": a missing value is told apart.
  optind = 0;
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "-:o:C:T:0wvqth", kLong, nullptr)) != -1;) {
    switch (c) {
      case 1: o->paths.push_back({optarg, dir}); break;
      case 'o': o->output = optarg; o->packOptions = true; break;
      case 'C': dir = optarg; o->packOptions = true; break;
      case 'T': o->lists.push_back({optarg, dir}); o->packOptions = true; break;
      case '0': o->nul = o->packOptions = true; break;
      case 'w': o->windows = o->packOptions = true; break;
      case kSlashes: o->windows = false, o->slashes = true; break;
      case 'v': o->verbose = true; break;
      case 'q': o->quiet = true; break;
      case 't': o->list = true; break;
      case kPlan: o->plan = optarg; break;
      case kMkdirs: o->mkdirs = true; break;
      case kVerify: o->verify = optarg; break;
      case 'h': o->help = true; break;
      case kVersion: o->version = true; break;
      case ':': return Usage(err, "option " + Escaped(argv[optind - 1]) + " needs a value");
      default:
        if (optopt) return Usage(err, "unknown option -" + Escaped(std::string(1, (char)optopt)));
        return Usage(err, "unknown option " + Escaped(argv[optind - 1]));
    }
  }
  // After "--", the rest are PATHs.
  for (int i = optind; i < argc; ++i) o->paths.push_back({argv[i], dir});
  if (o->help || o->version) return true;
  if (o->mkdirs && !o->plan) return Usage(err, "--mkdirs goes with --plan");
  if (o->list || o->plan || o->verify) return CheckReadingOptions(*o, err);
  if (o->nul && o->lists.empty()) return Usage(err, "-0 goes with -T");
  if (o->paths.empty() && o->lists.empty()) return Usage(err, "no path given");
  return true;
}

// Reads the package (the one named, or standard input, never a terminal)
// as -t, --plan or --verify asks.
int ReadPackage(const Options& o, FILE* in, FILE* out, FILE* err) {
  PackageIn package;
  const bool named = !o.paths.empty();
  const char* name = named ? o.paths[0].path.c_str() : "standard input";
  if (!named && isatty(fileno(in))) {
    fputs("pack: refusing to read a package from a terminal; give PACKAGE or redirect standard input\n", err);
    return kUsageError;
  }
  const int fd = named ? OsOpenToRead(name) : OsDescriptorOf(in);
  if (fd < 0) {
    fprintf(err, "pack: cannot read %s: %s\n", Escaped(name).c_str(), strerror(errno));
    return kFailed;
  }
  StartReading(&package, fd, name);
  // The progress line counts toward the package's size, when it is a file.
  PathFacts f;
  const bool sized = OsLookAtFile(fd, &f) && S_ISREG(f.mode);
  Progress progress;
  StartProgress(&progress, err, o.quiet, sized ? f.size : 0);
  package.progress = &progress;
  const int status = o.list   ? ListPackage(&package, o.verbose, out, err)
                     : o.plan ? PlanPackage(o.plan, o.mkdirs, &package, out, err)
                              : VerifyPackage(o.verify, &package, out, err);
  ClearProgress(&progress);
  if (named) OsCloseFile(fd);
  return status;
}

}  // namespace

int RunPack(int argc, char** argv, FILE* in, FILE* out, FILE* err) {
  Options o;
  ShowBackslashes(false);
  if (!ParseArguments(argc, argv, &o, err)) return kUsageError;
  ShowBackslashes(kOsBackslashNames && !o.slashes);
  if (o.help) {
    fputs(kUsage, out);
    fputs(kHelp, out);
    return 0;
  }
  if (o.version) return fputs(kVersionText, out), 0;
  if (o.list || o.plan || o.verify) return ReadPackage(o, in, out, err);
  return PackFiles(o, in, out, err);
}
