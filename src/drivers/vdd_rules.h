// The naming rules of the virtual display driver: which INF in the shipped folder is the driver's, which hardware
// id lists name the device, and which published INF copies in the Windows INF folder are copies of the package.
// Pure text; listing folders and devices is the Windows side's business.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::drivers {

constexpr char kDefaultVddHardwareId[] = "Root\\CorvellaVirtualDisplay";
constexpr char kVddInfName[] = "CorvellaVirtualDisplay.inf";

std::string AsciiLower(std::string_view text);

// The final path component (after the last "\" or "/").
std::string_view FileNameOf(std::string_view path);

// Given the regular files below `folder` in walk order (their paths begin with it), the VDD INF: the one named
// "CorvellaVirtualDisplay.inf" (any ASCII case) directly in the folder; failing that, the only one so named below
// it; with none so named, the only file with the extension ".inf" (any case). Otherwise none: two such names below
// the top level, or two other INFs, leave no single choice.
std::optional<std::string> PickVddInf(std::string_view folder, const std::vector<std::string>& files);

// Whether one of a device's hardware ids equals `hardwareId` without regard to ASCII case. The empty id matches
// nothing: a hardware id list has no empty entry.
bool HardwareIdsContain(const std::vector<std::string>& deviceIds, std::string_view hardwareId);

// A published copy in the Windows INF folder: "oem", one or more ASCII digits, ".inf", in any letter case
// ("oem12.inf", "OEM3.INF"; not "oem.inf", "oem1.inf_loc", "oem1.pnf" or "oem1 x.inf").
bool IsPublishedInfName(std::string_view name);

// Whether the INF text, read as raw bytes, names "CorvellaVirtualDisplay.inf" in any ASCII case, either as single
// bytes or as UTF-16LE.
bool MentionsVddInf(std::string_view bytes);

}  // namespace kestrova::drivers
