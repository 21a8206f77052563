// The control's about box as a toolkit-free model: the texts it shows once loaded, its layout
// (positions in twips, fonts) and what Help (F1) does.  `KorvelComTools::ShowAbout()` loads a
// fresh model for every showing and hands it to the front's presenter, which shows it modally.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "korvelcom/Export.h"

namespace korvel::ui {

/// Version information of the component, as the about box shows it.
struct ComponentInfo {
    std::string title;  ///< the component's title ("KorvelComTools")
    int major = 0;
    int minor = 0;
    int revision = 0;
    std::string comments;  ///< the component's comments text (may be empty)
};

/// A control of the form: its name, position and size in twips (1/1440 inch), font, colour
/// and design-time text.
struct AboutControlLayout {
    const char* name;              ///< "lblTitle", "lblVersion", ..., "Label1", "Label2", "Image1"
    int left, top, width, height;  ///< twips; an image gives its size in pixels instead
    const char* fontFamily;        ///< "" for none (lines, the image)
    double pointSize;              ///< 0 for none
    bool bold;
    uint32_t rgb;           ///< text colour 0xRRGGBB (a line's own colour)
    const char* text = "";  ///< design-time text; "" for the texts set at load, lines, image
};

class KORVELCOM_API AboutBox {
  public:
    /// Loads the form: caption, version line, title, disclaimer, help file and help context,
    /// in that order.  `systemDirectory` is the system directory of the system helpers
    /// (`WinSysDir`); the help file is that directory, this platform's separator and
    /// "KorvelComTools.hlp".
    AboutBox(const ComponentInfo& info, const std::string& systemDirectory);

    /// "About... " followed by the title.
    const std::string& caption() const { return caption_; }
    /// "Version " major "." minor "." revision " " comments ("Version 3.0.0 " for 3.0.0 and
    /// no comments).
    const std::string& versionLine() const { return version_; }
    const std::string& title() const { return title_; }
    /// "AciveX 32 bit OCX control" followed by the maker's line (the spelling is the form's).
    static const char* description();
    /// Three paragraphs separated by "\r\n": the heading, "NO WARRANTIES." and "NO LIABILITY
    /// FOR DAMAGES.", the last ending with a colon.
    static const char* disclaimer();
    /// The maker's web address (the label does nothing when clicked).
    static const char* webAddress();
    /// The clickable labels' texts: "Help" and "Exit".
    static const char* helpLabel();
    static const char* exitLabel();
    /// The help file path set at load.
    const std::string& helpFile() const { return helpFile_; }
    /// The form's help context number for F1 (1).
    int helpContext() const { return helpContext_; }
    /// The layout of the form's controls, and the logo's size in pixels (285 x 238).
    static const std::vector<AboutControlLayout>& layout();
    static constexpr int kLogoWidth = 285;
    static constexpr int kLogoHeight = 238;
    /// The separator line's distance from the top of the form, in twips.
    static constexpr int kSeparatorTop = 1320;

    /// F1 on the form, and a click on "Help": the help file to open with the desktop's opener
    /// when it exists as a file on disk, nothing when it does not (or cannot be checked).  The
    /// form stays open either way.
    std::optional<std::string> helpToOpen() const;

  private:
    std::string caption_;
    std::string version_;
    std::string title_;
    std::string helpFile_;
    int helpContext_ = 0;
};

}  // namespace korvel::ui
