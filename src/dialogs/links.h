// The product's own link addresses and their captions, in one place.
// The maker's addresses live under voracraft.example, a reserved domain.
//
// Links open in the default browser through QDesktopServices::openUrl; a
// link that cannot be opened shows nothing (the result is not used).
#pragma once

namespace plombix::links {

// The maker's web site (main window 1017, support window 2100).
inline constexpr char kMakerSiteUrl[] = "https://www.voracraft.example/";
inline constexpr char kMakerSiteCaption[] = "www.voracraft.example";
// The invitation on the support window's web-site button (2100).
inline constexpr char kMakerSiteInvitation[] = "Visit the Voracraft web site";

// The NDI vendor's web site (main window 1018).
inline constexpr char kNdiSiteUrl[] = "https://ndi.video/";
inline constexpr char kNdiSiteCaption[] = "ndi.video";

// The maker's group page on a social network (1024, 2105).
inline constexpr char kSocialPageUrl[] = "https://social.voracraft.example/groups/plombix";
// The maker's video channel (1025, 2106).
inline constexpr char kVideoChannelUrl[] = "https://video.voracraft.example/channel/voracraft";
// The online store (2101).
inline constexpr char kOnlineStoreUrl[] = "https://store.voracraft.example/";
inline constexpr char kOnlineStoreCaption[] = "Browse Online Store";

// The online help page (F1 and the Options menu entry).
inline constexpr char kOnlineHelpUrl[] = "https://www.voracraft.example/plombix/readme/";

// The maker's company line of the About box (followed by ", " and the
// release date).
inline constexpr char kMakerCompanyLine[] = "Voracraft Ltd";

// Opens `url` (UTF-8) in the default browser; failure is ignored.
void OpenLink(const char* url);

}  // namespace plombix::links
