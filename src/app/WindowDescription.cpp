#include "app/WindowDescription.h"

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
         .left = 238,
         .top = 103,
         .width = 20,
         .height = 20,
         .enabled = false,
         .tabStop = true,
         .caption = "〓",
         .events = Clicked},
        {.name = "外形框_二维码",
         .kind = ControlKind::ShapeBox,
         .left = 326,
         .top = 122,
         .width = 150,
         .height = 170,
         .visible = false},
        {.name = "标签__关闭",
         .kind = ControlKind::Label,
         .parent = "外形框_二维码",
         .left = 129,
         .top = 5,
         .width = 18,
         .height = 18,
         .caption = "╳",
         .align = Align::Centre,
         .font = face({}, 11, 700),
         .textColour = kBlack,
         .events = LeftReleased},
        {.name = "标签_asd",
         .kind = ControlKind::Label,
         .parent = "外形框_二维码",
         .left = 5,
         .top = 5,
         .width = 100,
         .height = 18,
         .caption = "·打赏通道：",
         .font = kDefaultFont,
         .textColour = kBlack},
        {.name = "图片框_asd",
         .kind = ControlKind::PictureBox,
         .parent = "外形框_二维码",
         .left = 5,
         .top = 24,
         .width = 140,
         .height = 140,
         .pictures = {":/assets/tip-qr.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed},
        {.name = "图片框_发起QQ聊天",
         .kind = ControlKind::PictureBox,
         .left = 329,
         .top = 127,
         .width = 22,
         .height = 22,
         .pictures = {":/assets/chat.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed},
        {.name = "图片框_发起QQ群聊",
         .kind = ControlKind::PictureBox,
         .left = 356,
         .top = 127,
         .width = 90,
         .height = 22,
         .pictures = {":/assets/group.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed},
        {.name = "图片框1",
         .kind = ControlKind::PictureBox,
         .left = 294,
         .top = 122,
         .width = 30,
         .height = 30,
         .pictures = {":/assets/tip-button.png"},
         .displayMode = DisplayMode::CentredFit,
         .events = LeftPressed},
        {.name = "标签_应用名1",
         .kind = ControlKind::TransparentLabel,
         .left = 294,
         .top = 5,
         .width = 300,
         .height = 122,
         .caption = "提示：\r\n"
                    "1、双击列表显示详细，并可根据需求下载。\r\n"
                    "2、下载好的软件将会保存在系统桌面，文件名为“应用名_版本号.exe”\r\n"
                    "3、安装路径选择D盘，安装完成后就可以把文件删除掉了、没了。。",
         .wordWrapTop = true,
         .font = face("黑体", 16),
         .textColour = kBlack},
        {.name = "标签_进度",
         .kind = ControlKind::TransparentLabel,
         .left = 192,
         .top = 131,
         .width = 95,
         .height = 20,
         .textColour = kBlack},
        {.name = "标签_匹配数量",
         .kind = ControlKind::TransparentLabel,
         .left = 513,
         .top = 135,
         .width = 80,
         .height = 20,
         .font = face({}, 13),
         .textColour = kBlack},
        {.name = "标签_应用名",
         .kind = ControlKind::TransparentLabel,
         .left = 9,
         .top = 40,
         .width = 250,
         .height = 20,
         .caption = "应用程序：",
         .textColour = kBlack},
        {.name = "图片框_图标",
         .kind = ControlKind::PictureBox,
         .left = 9,
         .top = 63,
         .width = 60,
         .height = 60,
         .border = true,
         .displayMode = DisplayMode::Tiled},
        {.name = "标签_版本",
         .kind = ControlKind::TransparentLabel,
         .left = 82,
         .top = 63,
         .width = 150,
         .height = 20,
         .caption = "版本：",
         .textColour = kBlack},
        {.name = "标签_大小",
         .kind = ControlKind::TransparentLabel,
         .left = 82,
         .top = 83,
         .width = 150,
         .height = 20,
         .caption = "大小：",
         .textColour = kBlack},
        {.name = "标签_更新",
         .kind = ControlKind::TransparentLabel,
         .left = 82,
         .top = 103,
         .width = 110,
         .height = 20,
         .caption = "更新：",
         .textColour = kBlack},
        {.name = "进度条_下载",
         .kind = ControlKind::ProgressBar,
         .left = 9,
         .top = 136,
         .width = 170,
         .height = 10,
         .border = true,
         .barStyle = BarStyle::Blocks},
        {.name = "按钮_下载",
         .kind = ControlKind::Button,
         .left = 192,
         .top = 103,
         .width = 45,
         .height = 20,
         .enabled = false,
         .tabStop = true,
         .caption = "下载",
         .events = Clicked},
        {.name = "超级列表框_应用列表",
         .kind = ControlKind::ReportList,
         .left = 0,
         .top = 158,
         .width = 600,
         .height = 167,
         .tabStop = true,
         .textColour = kBlack,
         .backgroundColour = kWhite,
         .border = true,
         .events = KeyPressed | DoubleClicked},
        {.name = "按钮_搜索",
         .kind = ControlKind::Button,
         .left = 182,
         .top = 8,
         .width = 55,
         .height = 25,
         .tabStop = true,
         .caption = "给我查",
         .events = Clicked},
        {.name = "编辑框_搜索框",
         .kind = ControlKind::EditBox,
         .left = 8,
         .top = 8,
         .width = 168,
         .height = 25,
         .tabStop = true,
         .caption = "QQ",
         .font = face("微软雅黑", 12),
         .textColour = kBlack,
         .backgroundColour = kWhite,
         .border = true,
         .events = KeyPressed},
    };
    w.listColumns = {
        {"序号", 40},       {"应用名", 130},  {"包名", 120},  {"大小", 90},       {"ID", 80},
        {"下载链接1", 200}, {"发布日期", 80}, {"版本号", 90}, {"下载链接2", 200}, {"图标地址", 120},
    };
    w.menuName = "子菜单";
    w.menuEntries = {"通过外部访问_下载地址1", "通过外部访问_下载地址2", "复制_下载地址1",
                     "复制_下载地址2", "复制_应用详细"};
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
         .left = 13,
         .top = 20,
         .width = 120,
         .height = 20,
         .textColour = kWhite},
        {.name = "标签_更新进度",
         .kind = ControlKind::TransparentLabel,
         .left = 202,
         .top = 358,
         .width = 80,
         .height = 15,
         .align = Align::Right,
         .font = face({}, 12, 700),
         .textColour = kBlack},
        {.name = "标签_更新状态",
         .kind = ControlKind::TransparentLabel,
         .left = 9,
         .top = 358,
         .width = 90,
         .height = 15,
         .textColour = kBlack},
        {.name = "进度条_更新",
         .kind = ControlKind::ProgressBar,
         .left = 9,
         .top = 375,
         .width = 280,
         .height = 10,
         .border = true,
         .barStyle = BarStyle::Smooth},
        {.name = "标签_当前版本号",
         .kind = ControlKind::TransparentLabel,
         .left = 13,
         .top = 5,
         .width = 120,
         .height = 20,
         .textColour = kWhite},
        {.name = "按钮_关闭更新",
         .kind = ControlKind::ImageButton,
         .left = 669,
         .top = 1,
         .width = 32,
         .height = 32,
         .pictures = {":/assets/close-normal.jpg",
                      ":/assets/close-hover.jpg",
                      ":/assets/close-pressed.jpg",
                      {}},
         .events = Clicked},
        {.name = "按钮_确认更新",
         .kind = ControlKind::ImageButton,
         .left = 25,
         .top = 269,
         .width = 199,
         .height = 56,
         .pictures = {":/assets/confirm-normal.jpg",
                      ":/assets/confirm-hover.jpg",
                      ":/assets/confirm-pressed.jpg",
                      {}},
         .events = Clicked},
        {.name = "图片框_自定义logo",
         .kind = ControlKind::PictureBox,
         .left = 24,
         .top = 55,
         .width = 200,
         .height = 100,
         .backgroundColour = kUpdateBlue,
         .displayMode = DisplayMode::CentredFit},
        {.name = "标签1",
         .kind = ControlKind::Label,
         .left = 312,
         .top = 0,
         .width = 8,
         .height = 397,
         .backgroundColour = kWhite},
        {.name = "文本框_更新内容",
         .kind = ControlKind::HtmlView,
         .left = 318,
         .top = -2,
         .width = 400,
         .height = 400,
         .tabStop = true},
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
