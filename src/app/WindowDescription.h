#pragma once
// The fixed description of both windows, their controls and the pop-up menu, held as data.
// WindowBuilder turns it into widgets; nothing else in the program repeats these values.

#include <optional>
#include <string_view>
#include <vector>

namespace vantorel::app {

enum class ControlKind {
    Label,
    TransparentLabel,
    PictureBox,
    ShapeBox,
    Button,
    ImageButton,
    ReportList,
    ProgressBar,
    HtmlView,
    EditBox,
};

// The kind in the words the rest of the program (and --dump-ui) uses: "transparent label", ...
std::string_view kindName(ControlKind kind);

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A font as stored: `defaultFont` means the system's default GUI font; otherwise an empty
// family is the default face at the given height and weight.
struct FontSpec {
    bool defaultFont = true;
    std::string_view family;
    int pixelHeight = 0;
    int weight = 400;
};

enum class Align { Left, Centre, Right };
enum class DisplayMode { CentredFit, Tiled };
enum class BarStyle { Blocks, Smooth };

// Events a control's action is bound to.
enum EventFlag : unsigned {
    NoEvents = 0,
    Clicked = 1u << 0,
    LeftPressed = 1u << 1,
    LeftReleased = 1u << 2,
    DoubleClicked = 1u << 3,
    KeyPressed = 1u << 4,
};

struct Frame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct ColumnSpec {
    std::string_view title;
    int width = 0;
};

struct ControlSpec {
    std::string_view name;
    ControlKind kind = ControlKind::Label;
    std::string_view parent; // empty: the window itself
    Frame frame;             // relative to the parent's client area
    bool visible = true;
    bool enabled = true;
    bool tabStop = false;
    std::string_view caption; // caption of labels and buttons, initial text of the edit box
    Align align = Align::Left;
    bool wordWrapTop = false; // wrap within the control from its top edge instead of one line
    FontSpec font;
    std::optional<Rgb> textColour;       // empty: the system colour
    std::optional<Rgb> backgroundColour; // empty: the system colour
    bool border = false;                 // single-line border
    // Resource paths: one picture for picture boxes; normal, pointer-over, pressed and
    // disabled faces for image buttons (an empty path is a missing face).
    std::vector<std::string_view> pictures;
    // A picture box's picture drawn at twice its size, used where a pixel of the window has
    // more than one device pixel; empty: the picture is scaled up.
    std::string_view detailedPicture;
    DisplayMode displayMode = DisplayMode::CentredFit;
    BarStyle barStyle = BarStyle::Blocks;
    unsigned events = NoEvents;
    // What a screen reader says for the control: empty keeps the caption. A picture or symbol
    // that means something gets a short name of its own.
    std::string_view accessibleName;
    std::string_view accessibleDescription;
    // A picture or label whose bound mouse action a keyboard user needs too: it takes focus
    // (in stored order, by Tab) and Space or Enter runs the action; screen readers see a button.
    bool keyboardAction = false;
};

struct WindowSpec {
    std::string_view name; // "main" or "update"
    std::string_view title;
    int outerWidth = 0; // stored outer frame
    int outerHeight = 0;
    int clientWidth = 0; // what the controls are laid out in
    int clientHeight = 0;
    bool frameless = false;
    std::optional<Rgb> backgroundColour; // empty: the dialog face colour
    std::string_view backgroundPicture;  // resource path, drawn from the top-left corner
    std::string_view icon;               // resource path of the window icon
    std::vector<ControlSpec> controls;   // creation order = stacking order, top first
    std::vector<ColumnSpec> listColumns; // columns of the window's report list, if any
    std::string_view menuName;           // pop-up menu owned by the window, if any
    std::vector<std::string_view> menuEntries;
};

const WindowSpec& mainWindowSpec();
const WindowSpec& updateWindowSpec();

// Second caption and picture the tip panel may switch to.
inline constexpr std::string_view kWeChatTipCaption = "·微信打赏通道：";
inline constexpr std::string_view kWeChatTipPicture = ":/assets/tip-wechat.jpg";

} // namespace vantorel::app
