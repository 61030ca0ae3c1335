#include "Tessaline/CardPrep/CameraFormatProfile.hpp"

namespace tessaline {

const std::vector<CameraFormatProfile>& CameraFormatProfile::all() {
    static const std::vector<CameraFormatProfile> table = {
        {"sony-alpha", "Sony Alpha (XAVC / stills)",
         {"DCIM/100MSDCF", "PRIVATE/M4ROOT/CLIP", "PRIVATE/M4ROOT/SUB", "PRIVATE/M4ROOT/THMBNL",
          "PRIVATE/M4ROOT/GENERAL"},
         "a7/FX/ZV bodies \u2014 stills in DCIM, XAVC video under PRIVATE/M4ROOT."},
        {"sony-avchd", "Sony (AVCHD era)",
         {"DCIM/100MSDCF", "PRIVATE/AVCHD/BDMV/STREAM", "PRIVATE/AVCHD/BDMV/CLIPINF",
          "PRIVATE/AVCHD/BDMV/PLAYLIST", "PRIVATE/AVCHD/BDMV/BACKUP"},
         "Handycam/older Alpha AVCHD \u2014 .MTS clips under PRIVATE/AVCHD/BDMV/STREAM."},
        {"canon-eos", "Canon EOS", {"DCIM/100CANON", "MISC"},
         "EOS R/5D/90D etc. \u2014 stills and video both land in DCIM/100CANON."},
        {"nikon", "Nikon", {"DCIM/100NIKON"}, "Z and D bodies \u2014 everything under DCIM/100NIKON."},
        {"fujifilm", "Fujifilm", {"DCIM/100_FUJI"}, "X and GFX bodies \u2014 everything under DCIM/100_FUJI."},
        {"panasonic", "Panasonic Lumix", {"DCIM/100_PANA", "MISC"},
         "GH/S bodies \u2014 MP4/MOV era. (AVCHD-mode Lumix: use the Sony AVCHD profile.)"},
        {"gopro", "GoPro", {"DCIM/100GOPRO", "MISC"}, "HERO cameras \u2014 clips and thumbnails in DCIM/100GOPRO."},
        {"dji", "DJI (drone / Osmo)", {"DCIM/100MEDIA", "MISC"}, "Mavic/Air/Mini/Osmo \u2014 footage in DCIM/100MEDIA."},
        {"blackmagic", "Blackmagic", {},
         "Pocket/URSA record clips at the card root \u2014 erase only, no folders needed."},
        {"red", "RED", {},
         "KOMODO/V-RAPTOR/DSMC2 \u2014 records .R3D clip bundles (.RDM/.RDC) at the card root; erase only, the "
         "camera rebuilds them on record."},
        {"arri", "ARRI", {},
         "ALEXA 35/Mini LF/Amira \u2014 records clip folders at the card root; erase only, the camera rebuilds its "
         "structure on record."},
        {"generic", "Generic (DCIM only)", {"DCIM"},
         "The bare DCF standard \u2014 safe for any camera; it builds its own subfolders."},
    };
    return table;
}

std::optional<CameraFormatProfile> CameraFormatProfile::profile(std::string_view id) {
    for (const auto& p : all())
        if (p.id == id) return p;
    return std::nullopt;
}

}  // namespace tessaline
