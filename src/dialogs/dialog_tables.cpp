// The control tables of the three dialog templates, in dialog units and in
// template order (which is also the tab order). Labels and group boxes
// without an id carry kNoId. Where a label without id has only a position,
// its size was chosen to fit its text and end where its neighbour starts.
#include "dialog_template.h"
#include "links.h"

namespace plombix {
namespace {

using K = ControlKind;

// Template 102: the main window, 321 x 228 DU.
constexpr ControlSpec kMainControls[] = {
    {1002, K::MenuButton, "Resolution", 7, 6, 59, 14},
    {1003, K::MenuButton, "Framerate", 72, 6, 53, 14},
    {1014, K::Picture, "", 130, 4, 20, 18, 0, 131},
    {1015, K::Label, "output info", 156, 9, 85, 8},
    {1052, K::MenuButton, "Background", 245, 6, 69, 14},
    {kNoId, K::Label, "Image scaling - ", 8, 27, 52, 8},
    {1016, K::Label, "1:1 pixel size", 62, 27, 99, 8},
    {1055, K::Label, "", 172, 27, 72, 8},
    {1054, K::ColourPicker, "", 246, 24, 33, 14},
    {1053, K::ColourPicker, "", 281, 24, 33, 14},
    {1004, K::Radio, "None", 7, 38, 45, 10, kGroupStart},
    {1005, K::Radio, "Contain", 7, 49, 41, 10},
    {1006, K::Radio, "Crop && Fill", 7, 60, 48, 10},
    {1026, K::PreviewBox, "", 68, 41, 144, 78, kBorder | kNotify},
    {1056, K::ColButton, "Slideshow", 226, 41, 53, 14},
    {1048, K::ColButton, "Grab", 281, 41, 33, 14},
    {1049, K::PushButton, "0-255", 7, 73, 41, 14},
    {1021, K::ColButton, "Cut", 7, 89, 41, 14},
    {1000, K::ColButton, "Watch", 7, 106, 41, 14},
    {1001, K::PushButton, "Inf", 50, 106, 16, 14},
    {1061, K::PushButton, "More", 7, 123, 25, 13},
    {1051, K::Label, "Drag && Drop images onto the window", 44, 123, 173, 8, kTextCentre | kFileName},
    {kNoId, K::Label, "Plombix is from", 226, 59, 88, 8, kTextCentre},
    {1017, K::PushButton, links::kMakerSiteCaption, 226, 69, 88, 14, kUnderlined},
    {kNoId, K::Label, "NDI\u00ae is from", 226, 85, 88, 8, kTextCentre},
    {1018, K::PushButton, links::kNdiSiteCaption, 226, 94, 88, 14, kUnderlined},
    {1024, K::Picture, "", 226, 113, 25, 18, kNotify, 145},
    {1025, K::Picture, "", 251, 113, 25, 18, kNotify, 147},
    {1, K::DefaultPushButton, "Exit", 280, 117, 34, 14},
    {kNoId, K::GroupBox, "Border size", 7, 145, 95, 41},
    {1019, K::CheckBox, "Equal", 12, 157, 28, 10},
    {1062, K::NumberEdit, "", 74, 156, 16, 12},
    {1064, K::Label, "Sides", 53, 158, 18, 10, kTextRight},
    {1065, K::Label, "%", 92, 158, 8, 8},
    {1020, K::CheckBox, "Use", 12, 172, 22, 10},
    {1063, K::NumberEdit, "", 74, 171, 16, 12},
    {kNoId, K::Label, "Top/Bot", 45, 173, 26, 8, kTextRight},
    {kNoId, K::Label, "%", 92, 173, 8, 8},
    {kNoId, K::GroupBox, "Simple Slideshow", 108, 145, 206, 41},
    {1058, K::PushButton, "Start number", 113, 156, 54, 12},
    {1059, K::PushButton, "End number", 174, 156, 54, 12},
    {kNoId, K::Label, "Number format", 238, 152, 50, 8},
    {1007, K::Radio, "1", 290, 151, 15, 10, kGroupStart},
    {1008, K::Radio, "01", 290, 163, 19, 10},
    {1009, K::Radio, "001", 290, 175, 24, 10},
    {kNoId, K::Label, "Duration", 238, 163, 32, 8},
    {1074, K::NumberEdit, "", 237, 172, 22, 12},
    {kNoId, K::Label, "Secs", 262, 174, 20, 8},
    {1069, K::Label, "Slideshow base-name", 113, 173, 123, 8, kTextCentre | kFileName},
    {kNoId, K::GroupBox, "Overlay", 7, 187, 143, 34},
    {1066, K::CheckBox, "Use", 12, 196, 24, 10},
    {1067, K::ColButton, "Grab Overlay", 40, 194, 48, 14},
    {1060, K::PushButton, "Find GamePad", 95, 191, 55, 17},
    {1068, K::Label, "Overlay image name", 11, 210, 137, 8, kTextCentre | kFileName},
    {1070, K::ColButton, "X\n\nHome", 155, 191, 37, 30, kTwoLine},
    {1050, K::ColButton, "Y\n\nEnd", 196, 191, 37, 30, kTwoLine},
    {1072, K::ColButton, "A\n\nPgDown", 237, 191, 37, 30, kTwoLine},
    {1071, K::ColButton, "B\n\nPgUp", 278, 191, 37, 30, kTwoLine},
};

// The captions the main window's controls take at run time, each in its
// widest form (numbers 0..255 at three digits; digits share one width in
// the dialog font). The picture-name, base-name and overlay-name labels
// show file names of any length: they elide them (kFileName).
constexpr RunTimeText kMainRunTimeTexts[] = {
    {1002, "1080 x 1920"},
    {1002, "4096 x 2160"},
    {1003, "29.97p"},
    {1015, "4096 x 2160 - 29.97 fps"},
    {1015, "1080 x 1920 - 29.97 fps"},
    {1052, "Grad Fill 1"},
    {1052, "Set from o/p"},
    {1052, "Transparent"},
    {1016, "1:1 pixel sizing"},
    {1016, "Fill height/width & add borders"},
    {1016, "Fill screen, crop where needed"},
    {1055, "from 16384 x 12208"},
    {1056, "SlideShow"},
    {1056, "S/Show 255"},
    {1048, "Grabbed"},
    {1048, "Grab used"},
    {1049, "16-235"},
    {1021, "Fade"},
    {1000, "Watching"},
    {1061, "Less"},
    {1062, "99"},
    {1063, "99"},
    {1058, "Start at:- 255"},
    {1059, "End at:- 255"},
    {1074, "240"},
    {1069, "Invalid start or end"},
    {1069, "Invalid seq start"},
    {1060, "GamePad found"},
    {1070, "X\n\nHome"},
    {1050, "Y\n\nEnd"},
    {1072, "A  ->\n\nPgDn"},
    {1071, "<-  B\n\nPgUp"},
};

// Template 100: the About box, 227 x 44 DU.
constexpr ControlSpec kAboutControls[] = {
    {kNoId, K::Picture, "", 8, 7, 43, 30, 0, 144},
    {1022, K::Label, "", 58, 8, 162, 8},
    {1023, K::Label, "", 58, 20, 108, 8},
    {1, K::DefaultPushButton, "OK", 170, 25, 50, 14},
};

// The About box's two lines with a long version on each side.
constexpr RunTimeText kAboutRunTimeTexts[] = {
    {1022, "NDI\u00ae Plombix, v1.10.10.10, NDI v6.10.10.10, x64"},
    {1023, "Voracraft Ltd, Sep-2099"},
};

// Template 122: the support window, 441 x 266 DU. The picture itself is
// made at run time in pixels (AdDialog); the controls sit below it.
constexpr ControlSpec kSupportControls[] = {
    {2102, K::Picture, "", 7, 7, 20, 20, kHidden, 190},
    {2100, K::PushButton, links::kMakerSiteInvitation, 7, 244, 120, 14},
    {2101, K::PushButton, links::kOnlineStoreCaption, 134, 244, 90, 14},
    {2105, K::Picture, "", 232, 240, 25, 18, kNotify, 195},
    {2106, K::Picture, "", 262, 240, 25, 18, kNotify, 196},
    {1, K::PushButton, "OK", 330, 244, 50, 14, kHidden},
    {2, K::DefaultPushButton, "Cancel", 384, 244, 50, 14},
    {2103, K::Label, "", 7, 258, 200, 8},
    {2104, K::Label, "", 296, 258, 138, 8},
};

// The main window folds in the gap between the More row (down to 136 DU)
// and the Border size, Simple Slideshow and Overlay groups (from 145 DU).
constexpr int kMainFoldDu = 140;

const DialogTemplate kMainTemplate{
    102, "Vora  Plombix for NDI\u00ae", 321, 228, kMainControls, kMainRunTimeTexts, kMainFoldDu};
const DialogTemplate kAboutTemplate{
    100, "About NDI\u00ae Plombix", 227, 44, kAboutControls, kAboutRunTimeTexts};
const DialogTemplate kSupportTemplate{
    122, "How you can support development of this NDI software...", 441, 266, kSupportControls};

}  // namespace

const DialogTemplate& MainWindowTemplate() { return kMainTemplate; }
const DialogTemplate& AboutTemplate() { return kAboutTemplate; }
const DialogTemplate& SupportTemplate() { return kSupportTemplate; }

const ControlSpec* FindControl(const DialogTemplate& tmpl, int id) {
  for (const ControlSpec& c : tmpl.controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

}  // namespace plombix
