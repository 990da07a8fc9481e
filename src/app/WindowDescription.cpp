#include "app/WindowDescription.h"

#include "catalogue/ResultColumns.h"

// Each row names only the fields that differ from the defaults; the rest keep their default
// member initialisers, which is what older GCC warns about here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vantorel::app {

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kUpdateBlue{64, 159, 255};

constexpr FontSpec kDefaultFont{};

constexpr FontSpec face(std::string_view family, int pixelHeight, int weight = 400) {
    return FontSpec{false, family, pixelHeight, weight};
}

WindowSpec makeMainWindow() {
    WindowSpec w;
    w.name = "main";
    w.title = "Vantorel_下载器";
    w.outerWidth = 606;
    w.outerHeight = 354;
    w.clientWidth = 600;
    w.clientHeight = 325;
    w.icon = ":/assets/icon.ico";
    w.controls = {
        {.name = "按钮_更多",
         .kind = ControlKind::Button,
         .frame = {238, 103, 20, 20},
         .enabled = false,
         .tabStop = true,
         .caption = "〓",
         .events = Clicked,
         .accessibleName = "更多操作",
         .accessibleDescription = "打开菜单：访问或复制下载地址、复制应用详细、下载列表、设置"},
        {.name = "外形框_二维码",
         .kind = ControlKind::ShapeBox,
         .frame = {326, 122, 150, 170},
         .visible = false,
         .accessibleName = "打赏面板"},
        {.name = "标签__关闭",
         .kind = ControlKind::Label,
         .parent = "外形框_二维码",
         .frame = {129, 5, 18, 18},
         .caption = "╳",
         .align = Align::Centre,
         .font = face({}, 11, 700),
         .textColour = kBlack,
         .events = LeftReleased,
         .accessibleName = "关闭打赏通道",
         .keyboardAction = true},
        {.name = "标签_asd",
         .kind = ControlKind::Label,
         .parent = "外形框_二维码",
         .frame = {5, 5, 100, 18},
         .caption = "·打赏通道：",
         .font = kDefaultFont,
         .textColour = kBlack},
        {.name = "图片框_asd",
         .kind = ControlKind::PictureBox,
         .parent = "外形框_二维码",
         .frame = {5, 24, 140, 140},
         .pictures = {":/assets/tip-qr.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed,
         .accessibleName = "打赏二维码",
         .accessibleDescription = "切换打赏二维码",
         .keyboardAction = true},
        {.name = "图片框_发起QQ聊天",
         .kind = ControlKind::PictureBox,
         .frame = {329, 127, 22, 22},
         .pictures = {":/assets/chat.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed,
         .accessibleName = "联系作者",
         .accessibleDescription = "用 QQ 与作者聊天",
         .keyboardAction = true},
        {.name = "图片框_发起QQ群聊",
         .kind = ControlKind::PictureBox,
         .frame = {356, 127, 90, 22},
         .pictures = {":/assets/group.png"},
         .detailedPicture = ":/assets/group@2x.png",
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed,
         .accessibleName = "加入群聊",
         .accessibleDescription = "加入作者的 QQ 群",
         .keyboardAction = true},
        {.name = "图片框1",
         .kind = ControlKind::PictureBox,
         .frame = {294, 122, 30, 30},
         .pictures = {":/assets/tip-button.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed,
         .accessibleName = "打赏通道",
         .accessibleDescription = "显示打赏二维码",
         .keyboardAction = true},
        {.name = "标签_应用名1",
         .kind = ControlKind::TransparentLabel,
         .frame = {294, 5, 300, 122},
         .caption = "提示：\r\n"
                    "1、双击列表显示详细，并可根据需求下载。\r\n"
                    "2、下载好的软件将会保存在系统桌面，文件名为“应用名_版本号.exe”\r\n"
                    "3、安装路径选择D盘，安装完成后就可以把文件删除掉了、没了。。",
         .wordWrapTop = true,
         .font = face("黑体", 16),
         .textColour = kBlack},
        {.name = "标签_进度",
         .kind = ControlKind::TransparentLabel,
         .frame = {192, 131, 95, 20},
         .textColour = kBlack,
         .accessibleDescription = "单击打开下载列表（Ctrl+J）"},
        {.name = "标签_匹配数量",
         .kind = ControlKind::TransparentLabel,
         .frame = {513, 135, 80, 20},
         .font = face({}, 13),
         .textColour = kBlack},
        {.name = "标签_应用名",
         .kind = ControlKind::TransparentLabel,
         .frame = {9, 40, 250, 20},
         .caption = "应用程序：",
         .textColour = kBlack},
        {.name = "图片框_图标",
         .kind = ControlKind::PictureBox,
         .frame = {9, 63, 60, 60},
         .border = true,
         .displayMode = DisplayMode::Tiled,
         .accessibleName = "应用图标"},
        {.name = "标签_版本",
         .kind = ControlKind::TransparentLabel,
         .frame = {82, 63, 150, 20},
         .caption = "版本：",
         .textColour = kBlack},
        {.name = "标签_大小",
         .kind = ControlKind::TransparentLabel,
         .frame = {82, 83, 150, 20},
         .caption = "大小：",
         .textColour = kBlack},
        {.name = "标签_更新",
         .kind = ControlKind::TransparentLabel,
         .frame = {82, 103, 110, 20},
         .caption = "更新：",
         .textColour = kBlack},
        {.name = "进度条_下载",
         .kind = ControlKind::ProgressBar,
         .frame = {9, 136, 170, 10},
         .border = true,
         .barStyle = BarStyle::Blocks,
         .accessibleName = "下载进度"},
        {.name = "按钮_下载",
         .kind = ControlKind::Button,
         .frame = {192, 103, 45, 20},
         .enabled = false,
         .tabStop = true,
         .caption = "下载",
         .events = Clicked,
         .accessibleDescription = "下载所显示的软件"},
        {.name = "超级列表框_应用列表",
         .kind = ControlKind::ReportList,
         .frame = {0, 158, 600, 167},
         .tabStop = true,
         .textColour = kBlack,
         .backgroundColour = kWhite,
         .border = true,
         .events = KeyPressed | DoubleClicked,
         .accessibleName = "搜索结果",
         .accessibleDescription = "双击或按回车显示软件的详细"},
        {.name = "按钮_搜索",
         .kind = ControlKind::Button,
         .frame = {182, 8, 55, 25},
         .tabStop = true,
         .caption = "给我查",
         .events = Clicked,
         .accessibleDescription = "搜索软件"},
        {.name = "编辑框_搜索框",
         .kind = ControlKind::EditBox,
         .frame = {8, 8, 168, 25},
         .tabStop = true,
         .caption = "QQ",
         .font = face("微软雅黑", 12),
         .textColour = kBlack,
         .backgroundColour = kWhite,
         .border = true,
         .events = KeyPressed,
         .accessibleName = "搜索关键词",
         .accessibleDescription = "输入软件名称，按回车搜索"},
    };
    for (const catalogue::ResultColumn& column : catalogue::kResultColumns)
        w.listColumns.push_back({column.title, column.width});
    w.menuName = "子菜单";
    w.menuEntries = {"通过外部访问_下载地址1",
                     "通过外部访问_下载地址2",
                     "复制_下载地址1",
                     "复制_下载地址2",
                     "复制_应用详细",
                     "下载列表",
                     "设置"};
    return w;
}

WindowSpec makeUpdateWindow() {
    WindowSpec w;
    w.name = "update";
    w.outerWidth = 702;
    w.outerHeight = 397;
    w.clientWidth = 702;
    w.clientHeight = 397;
    w.frameless = true;
    w.backgroundColour = kUpdateBlue;
    w.backgroundPicture = ":/assets/update-background.jpg";
    w.icon = ":/assets/icon.ico";
    w.controls = {
        {.name = "标签_最新版本号",
         .kind = ControlKind::TransparentLabel,
         .frame = {13, 20, 120, 20},
         .textColour = kWhite},
        {.name = "标签_更新进度",
         .kind = ControlKind::TransparentLabel,
         .frame = {202, 358, 80, 15},
         .align = Align::Right,
         .font = face({}, 12, 700),
         .textColour = kBlack},
        {.name = "标签_更新状态",
         .kind = ControlKind::TransparentLabel,
         .frame = {9, 358, 90, 15},
         .textColour = kBlack},
        {.name = "进度条_更新",
         .kind = ControlKind::ProgressBar,
         .frame = {9, 375, 280, 10},
         .border = true,
         .barStyle = BarStyle::Smooth,
         .accessibleName = "更新进度"},
        {.name = "标签_当前版本号",
         .kind = ControlKind::TransparentLabel,
         .frame = {13, 5, 120, 20},
         .textColour = kWhite},
        {.name = "按钮_关闭更新",
         .kind = ControlKind::ImageButton,
         .frame = {669, 1, 32, 32},
         .pictures = {":/assets/close-normal.jpg",
                      ":/assets/close-hover.jpg",
                      ":/assets/close-pressed.jpg",
                      {}},
         .events = Clicked,
         .accessibleName = "关闭",
         .accessibleDescription = "关闭更新窗口（Esc）"},
        {.name = "按钮_确认更新",
         .kind = ControlKind::ImageButton,
         .frame = {25, 269, 199, 56},
         .pictures = {":/assets/confirm-normal.jpg",
                      ":/assets/confirm-hover.jpg",
                      ":/assets/confirm-pressed.jpg",
                      {}},
         .events = Clicked,
         .accessibleName = "立即更新",
         .accessibleDescription = "下载新版本（回车）"},
        {.name = "图片框_自定义logo",
         .kind = ControlKind::PictureBox,
         .frame = {24, 55, 200, 100},
         .backgroundColour = kUpdateBlue,
         .displayMode = DisplayMode::CentredFit,
         .accessibleName = "程序标志"},
        {.name = "标签1",
         .kind = ControlKind::Label,
         .frame = {312, 0, 8, 397},
         .backgroundColour = kWhite},
        {.name = "文本框_更新内容",
         .kind = ControlKind::HtmlView,
         .frame = {318, -2, 400, 400},
         .tabStop = true,
         .accessibleName = "更新内容"},
    };
    return w;
}

} // namespace

std::string_view kindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Label:
        return "label";
    case ControlKind::TransparentLabel:
        return "transparent label";
    case ControlKind::PictureBox:
        return "picture box";
    case ControlKind::ShapeBox:
        return "shape box";
    case ControlKind::Button:
        return "button";
    case ControlKind::ImageButton:
        return "image button";
    case ControlKind::ReportList:
        return "report list";
    case ControlKind::ProgressBar:
        return "progress bar";
    case ControlKind::HtmlView:
        return "HTML view";
    case ControlKind::EditBox:
        return "edit box";
    }
    return "control";
}

const WindowSpec& mainWindowSpec() {
    static const WindowSpec spec = makeMainWindow();
    return spec;
}

const WindowSpec& updateWindowSpec() {
    static const WindowSpec spec = makeUpdateWindow();
    return spec;
}

} // namespace vantorel::app
