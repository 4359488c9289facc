#include "cli/options.h"

namespace kestrova {
namespace {

bool StartsWithTwoDashes(std::string_view text) { return text.size() >= 2 && text[0] == '-' && text[1] == '-'; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::string Options::GetOption(const std::string& name) const {
  const auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

WideString Options::GetOptionWide(const std::string& name) const { return Utf8ToWide(GetOption(name)); }

bool Options::HasOption(const std::string& name) const { return values.count(name) != 0; }

bool ParseCommandLine(int argc, const wchar_t* const* argv, Options& options) {
  if (argc < 2) return false;
  options.command = WideToUtf8(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const std::string name = WideToUtf8(argv[i]);
    if (!StartsWithTwoDashes(name)) return false;
    if (name == "--repair") {
      options.flags.insert(name);
      continue;
    }
    // The value test counts UTF-16 characters, so a lone dash or the empty text is a value while anything
    // that begins with two dashes starts the next option.
    std::string value;
    if (i + 1 < argc) {
      const WideView next = argv[i + 1];
      if (next.size() < 2 || next[0] != L'-' || next[1] != L'-') {
        value = WideToUtf8(next);
        ++i;
      }
    }
    if (name == "--exclude") {
      options.excludes.push_back(value);
    } else {
      options.values[name] = value;
    }
  }
  return true;
}

WideString NormalizeFolderArgument(WideView text) {
  WideString out(text);
  if (out.size() >= 2 && out.back() == L'.' && IsSeparator(out[out.size() - 2])) out.pop_back();
  while (out.size() > 3 && IsSeparator(out.back())) out.pop_back();
  return out;
}

const char* UsageText() {
  return "usage:\n"
         "  KestrovaPayload pack --src <dir> --out <archive> [--exclude <relative path>]...\n"
         "      [--base <previous archive>]\n"
         "  KestrovaPayload extract --out <dir> (--db <msi> --row <name> | --from-file <archive>)\n"
         "      [--archive-sha256 <hex>]\n"
         "  KestrovaPayload verify --dir <dir> (--db <msi> --row <name> | --from-file <archive>) [--repair]\n"
         "      [--archive-sha256 <hex>]\n"
         "  KestrovaPayload rollback (--dir <dir> | --appdir <APPDIR>)\n"
         "  KestrovaPayload stage --appdir <APPDIR> (--db <msi> --row <name> | --from-file <archive>)\n"
         "      [--reinstall <REINSTALL>]\n"
         "      [--archive-sha256 <hex>]\n"
         "  KestrovaPayload install-vdd --inf-dir <dir> [--hwid <id>]\n"
         "  KestrovaPayload remove-vdd [--hwid <id>]\n"
         "  KestrovaPayload install-npu --inf <npu.inf>\n"
         "  KestrovaPayload install-cert --cer <certificate.cer>\n"
         "  KestrovaPayload commit-staging --appdir <APPDIR> --version <ProductVersion>\n"
         "  KestrovaPayload swap --appdir <APPDIR>\n"
         "  KestrovaPayload repair --appdir <APPDIR>\n"
         "  KestrovaPayload register-recovery --script <recover.ps1> [--policy-root hkcu --policy-key <key>]\n"
         "  KestrovaPayload unregister-recovery\n"
         "  KestrovaPayload reserve-ports\n"
         "  KestrovaPayload release-ports\n"
         "  KestrovaPayload record-managed --uilevel <n> --autoupdate <v> --reinstall <v> --selfupdate <v>\n"
         "  KestrovaPayload uninstall --appdir <APPDIR>\n"
         "  KestrovaPayload check-appdir --appdir <APPDIR>\n"
         "every command but pack also takes [--log <file>] [--updates-dir <dir>];\n"
         "record-managed, uninstall and release-ports take [--state-root hkcu] [--state-key <key>] for tests\n";
}

}  // namespace kestrova
