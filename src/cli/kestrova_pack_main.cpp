// kestrova-pack: the exe's pack command as a native Linux program, for build hosts without Windows or Wine.
// kestrova-pack --src <dir> --out <archive> [--exclude <relative path>]... reads its options by the exe's rules and
// prints the exe's log lines and exit codes; the archive is the one the exe writes with its own codec.
#include <sys/time.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "cli/options.h"
#include "core/log_line.h"
#include "core/report.h"
#include "payload/pack_posix.h"

namespace {

constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage:\n"
    "  kestrova-pack --src <dir> --out <archive> [--exclude <relative path>]... [--base <previous archive>]\n";

void PrintLogLine(kestrova::ReportLevel level, const char* text) {
  const char* name = level == kestrova::kReportError ? "ERROR" : level == kestrova::kReportWarning ? "WARN" : "INFO";
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  const kestrova::LogTime time{static_cast<unsigned>(utc.tm_year + 1900), static_cast<unsigned>(utc.tm_mon + 1),
                               static_cast<unsigned>(utc.tm_mday),        static_cast<unsigned>(utc.tm_hour),
                               static_cast<unsigned>(utc.tm_min),         static_cast<unsigned>(utc.tm_sec),
                               static_cast<unsigned>(now.tv_usec / 1000)};
  char line[kestrova::kLogLineCapacity];
  const size_t length = kestrova::FormatLogLine(line, time, name, static_cast<unsigned long>(getpid()), text);
  if (length > 0) std::fwrite(line, 1, length, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Case comparisons of names use the C library's Unicode tables, which the plain "C" locale may leave out.
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");
  kestrova::InstallReportSink(&PrintLogLine);

  // The exe's parser reads "KestrovaPayload pack <options>"; the program name stands in for both words.
  std::vector<kestrova::WideString> words{L"kestrova-pack", L"pack"};
  for (int i = 1; i < argc; ++i) words.push_back(kestrova::Utf8ToWide(argv[i]));
  std::vector<const wchar_t*> wide;
  for (const kestrova::WideString& word : words) wide.push_back(word.c_str());

  kestrova::Options options;
  if (!kestrova::ParseCommandLine(static_cast<int>(wide.size()), wide.data(), options)) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  int code = kExitUsage;
  if (options.HasOption("--src") && options.HasOption("--out")) {
    const std::string src = kestrova::WideToUtf8(kestrova::NormalizeFolderArgument(options.GetOptionWide("--src")));
    const std::string out = kestrova::WideToUtf8(options.GetOptionWide("--out"));
    const std::string base = kestrova::WideToUtf8(options.GetOptionWide("--base"));
    code = options.HasOption("--base") && base.empty()
               ? kExitUsage
               : kestrova::payload::RunPackPosix(src, out, options.excludes, base);
  }
  if (code == kExitUsage) std::fputs(kUsage, stderr);
  kestrova::Report(kestrova::kReportInfo, "KestrovaPayload pack exit %d", code);
  std::fflush(stdout);
  return code;
}
