#include "demo/CatalogueData.h"

#include <algorithm>
#include <cstdio>

namespace vantorel::demo {
namespace {

struct Seed {
    const char* name;
    const char* package;
    std::size_t size;
    const char* date;
    const char* version;
    const char* tags;
    std::uint32_t colour;
    DemoKind kind = DemoKind::Plain;
};

// All names are invented for the offline demo.
constexpr Seed kSeeds[] = {
    {"轻聊", "qingliao_setup", 6'815'744, "2026-11-28", "5.2.1", "QQ 聊天 即时通讯 chat", 0x409FFF},
    {"轻聊 精简版", "qingliao_lite", 2'097'152, "2026-10-02", "5.0.3", "QQ 聊天 lite", 0x3A8EE6},
    {"群聊助手", "qunhelper", 3'145'728, "2026-09-15", "2.4.0", "QQ 群 聊天", 0x5AB0FF},
    {"聊天记录备份", "chatbackup", 1'572'864, "2026-08-21", "1.8.6", "QQ 备份 聊天", 0x2F7BD1},
    {"蓝鲸浏览器", "bluewhale_browser", 9'437'184, "2026-12-01", "118.0.2", "浏览器 browser web",
     0x1E88E5},
    {"飞鱼下载", "flyfish_dl", 4'194'304, "2026-11-11", "3.3.0", "下载 download", 0x43A047},
    {"墨笔文字处理", "mobi_writer", 12'582'912, "2026-07-30", "9.1.4", "办公 文档 office",
     0xE53935},
    {"方格表格", "grid_sheet", 8'388'608, "2026-07-30", "9.1.4", "办公 表格 office", 0x2E7D32},
    {"幻灯演示", "slide_show", 7'340'032, "2026-07-30", "9.1.4", "办公 演示 office", 0xF4511E},
    {"极速压缩", "swiftzip", 1'048'576, "2026-10-20", "24.06", "压缩 zip 解压", 0x8E24AA},
    {"清风音乐", "breeze_music", 5'242'880, "2026-11-05", "7.7.0", "音乐 music 播放器", 0xD81B60},
    {"星河视频", "galaxy_player", 10'485'760, "2026-10-18", "12.2.5", "视频 播放器 player",
     0x3949AB},
    {"云朵网盘", "cloudy_drive", 6'291'456, "2026-09-09", "4.15.2", "网盘 云 同步", 0x00ACC1},
    {"守望杀毒", "watchguard_av", 14'680'064, "2026-12-03", "2026.12", "安全 杀毒 security",
     0x00897B},
    {"磐石防火墙", "rock_firewall", 3'670'016, "2026-06-12", "6.0.1", "安全 防火墙", 0x6D4C41},
    {"码匠编辑器", "codesmith", 11'534'336, "2026-11-30", "1.96.0", "编程 编辑器 code editor",
     0x1565C0},
    {"终端伴侣", "term_buddy", 2'621'440, "2026-05-27", "0.9.8", "终端 ssh terminal", 0x424242},
    {"截图小帮手", "snapper", 917'504, "2026-08-08", "3.1.0", "截图 screenshot", 0xFB8C00},
    {"录屏大师", "screen_recorder", 5'767'168, "2026-09-19", "8.4.2", "录屏 视频 recorder",
     0xC62828},
    {"图秀看图", "picshow", 2'359'296, "2026-10-10", "2.2.2", "看图 图片 viewer", 0x7CB342},
    {"光影修图", "lightshade", 13'631'488, "2026-11-21", "5.6.0", "修图 图片 photo", 0xAD1457},
    {"拼音输入法", "pinyin_ime", 4'718'592, "2026-12-02", "13.5.1", "输入法 拼音 ime", 0x5E35B1},
    {"五笔输入法", "wubi_ime", 3'407'872, "2026-04-18", "8.2.0", "输入法 五笔 ime", 0x4527A0},
    {"驱动管家", "driver_keeper", 7'864'320, "2026-10-29", "2.9.3", "驱动 driver", 0x546E7A},
    {"系统清道夫", "sys_sweeper", 2'883'584, "2026-11-17", "6.1.0", "清理 优化 clean", 0x26A69A},
    {"远程协助", "remote_aide", 6'553'600, "2026-09-30", "15.4.7", "远程 remote 协助", 0x0288D1},
    {"会议通", "meetlink", 9'961'472, "2026-11-25", "3.21.0", "会议 视频 meeting", 0x0277BD},
    {"记账本", "ledger_book", 1'310'720, "2026-03-14", "1.2.9", "记账 财务", 0xEF6C00},
    {"单词闪卡", "word_flash", 1'835'008, "2026-08-26", "4.0.0", "学习 英语 单词", 0xFDD835},
    {"PDF阅读器", "pdf_reader_lite", 3'932'160, "2026-10-06", "2.5.1", "pdf 阅读 reader", 0xB71C1C},
    {"字体管家", "font_keeper", 786'432, "2026-02-22", "1.0.5", "字体 font", 0x37474F},
    {"镜像不符演示", "mirror_mismatch", 3'145'728, "2026-12-05", "1.0.0",
     "演示 镜像 不符 mirror mismatch", 0x9E9E9E, DemoKind::OtherMirror},
    {"过期链接演示", "expiring_share", 12'582'912, "2026-12-05", "1.0.0",
     "演示 分享 过期 share expiring", 0x795548, DemoKind::ExpiringLink},
    {"番茄时钟", "tomato_timer", 524'288, "2026-01-09", "1.1.0", "效率 时钟 timer", 0xE64A19},
};

std::string hexDigest(std::string_view text) {
    std::uint64_t h = 1469598103934665603ull;
    for (char c : text)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(h));
    return buf;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; });
    return out;
}

} // namespace

std::vector<DemoProgram> demoPrograms(std::string_view base, std::string_view mirrorBase,
                                      std::string_view shareBase) {
    std::vector<DemoProgram> programs;
    unsigned index = 0;
    for (const Seed& s : kSeeds) {
        std::string hash = hexDigest(s.package);
        std::string file = std::string(s.package) + ".exe";
        std::string first = s.kind == DemoKind::ExpiringLink
                                ? std::string(shareBase) + "/s/" + s.package
                                : std::string(base) + "/files/" + file;
        catalogue::CatalogueRecord r{s.name,
                                     file,
                                     std::to_string(s.size),
                                     hash,
                                     std::move(first),
                                     s.date,
                                     s.version,
                                     std::string(mirrorBase) + "/mirror/" + file,
                                     std::string(s.package) + "_" + std::to_string(index) + ".png"};
        programs.push_back(DemoProgram{std::move(r), s.tags, s.colour, s.kind});
        ++index;
    }
    return programs;
}

std::vector<catalogue::CatalogueRecord> searchPrograms(const std::vector<DemoProgram>& programs,
                                                       std::string_view keyword,
                                                       std::size_t limit) {
    std::vector<catalogue::CatalogueRecord> found;
    std::string wanted = lower(keyword);
    for (const DemoProgram& p : programs) {
        if (found.size() >= limit)
            break;
        std::string haystack = lower(p.record.displayname + " " + p.record.filename + " " + p.tags);
        if (!wanted.empty() && haystack.find(wanted) != std::string::npos)
            found.push_back(p.record);
    }
    return found;
}

std::string installerBytes(std::string_view name, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint64_t state = std::stoull(hexDigest(name), nullptr, 16) | 1;
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = static_cast<char>(state >> 56);
    }
    if (size >= 2) {
        bytes[0] = 'M';
        bytes[1] = 'Z';
    }
    return bytes;
}

} // namespace vantorel::demo
