#include "text_table.h"

#include <cstddef>

namespace kt::text
{

namespace
{

// Joins constant texts at compile time, so the table can hand out views that live as long as
// the process and text 0 still takes the web address from its one constant.
template <const std::string_view &...Parts> struct Joined {
    static constexpr auto chars = [] {
        std::array<char, (Parts.size() + ...)> out{};
        std::size_t at = 0;
        for (std::string_view part : {Parts...}) {
            for (char c : part) {
                out[at++] = c;
            }
        }
        return out;
    }();
    static constexpr std::string_view value{chars.data(), chars.size()};
};

constexpr std::string_view kMakerEnglish = "TALVO Technology Corp.";
constexpr std::string_view kMakerChinese = "塔沃股份有限公司";
constexpr std::string_view kAddressGap = "   ";

constexpr std::string_view kMakerLineEnglish =
    Joined<kMakerEnglish, kAddressGap, kWebAddress>::value;
constexpr std::string_view kMakerLineChinese =
    Joined<kMakerChinese, kAddressGap, kWebAddress>::value;

// The Chinese texts are written here as UTF-8; a build with another execution character set
// would show mojibake, so refuse it.
static_assert(kMakerChinese.size() == 8 * 3, "texts must be compiled as UTF-8");

// Text k in language L (English, simplified Chinese, traditional Chinese). Texts 41 and 42
// are kept although nothing shows them, so that the numbers of the texts after them hold.
constexpr std::array<std::array<std::string_view, kLanguageCount>, kTextCount> kTextTable = {{
    /* 0 */ {kMakerLineEnglish, kMakerLineChinese, kMakerLineChinese},
    /* 1 */
    {"TALVO KT4500 Reader Config V3.20-01", "TALVO KT4500 读卡机设定程式 V3.20-01",
     "TALVO KT4500 讀卡機設定程式 V3.20-01"},
    /* 2 */ {"Start Scan Reader!", "请先扫描读卡机!", "請先掃描讀卡機!"},
    /* 3 */ {"Cancel Read Card", "取消读卡", "取消讀卡"},
    /* 4 */ {"ID", "编号", "編號"},
    /* 5 */ {"BaudRate", "通讯速度", "通訊速度"},
    /* 6 */ {"Set Reader Baud Rate (Reset)", "设定通讯速度(重置)", "設定通訊速度(重置)"},
    /* 7 */ {"Set Reader Wiegand/RS485 Mode", "设定 Wiegand/RS485 模式", "設定 Wiegand/RS485 模式"},
    /* 8 */
    {"Read Card (Change to RS485 Mode)", "读取卡片(自动设定为RS485模式)",
     "讀取卡片(自動設定為RS485模式)"},
    /* 9 */ {"Factory Default", "出厂预设", "出廠預設"},
    /* 10 */ {"Quick Setting", "快速设定", "快速設定"},
    /* 11 */ {"Default", "预设", "預設"},
    /* 12 */ {"Other", "其他", "其他"},
    /* 13 */ {"Exit", "结束", "結束"},
    /* 14 */ {"Card ID", "卡片ID", "卡片ID"},
    /* 15 */ {"Open COM", "开启串口", "開啟串口"},
    /* 16 */ {"Error", "错误", "錯誤"},
    /* 17 */ {"Scan Reader", "扫描读卡机", "掃描讀卡機"},
    /* 18 */ {"S/N", "序号", "序號"},
    /* 19 */ {"VER", "版本", "版本"},
    /* 20 */ {"Scan COM", "扫描串口", "掃描串口"},
    /* 21 */ {"Get Reader Info Ok. (COM", "读取读卡机资讯完成. (串口", "讀取讀卡機資訊完成. (串口"},
    /* 22 */
    {"Get Reader Info Error. (COM", "读取读卡机资讯错误. (串口", "讀取讀卡機資訊錯誤. (串口"},
    /* 23 */ {"Reader Not Find", "读卡机没有连线", "讀卡機沒有連線"},
    /* 24 */ {"Set Reader ID", "设定读卡机编号", "設定讀卡機編號"},
    /* 25 */ {"Set Reader ID Ok", "设定读卡机编号完成", "設定讀卡機編號完成"},
    /* 26 */ {"Set Reader ID Error", "设定读卡机编号错误", "設定讀卡機編號錯誤"},
    /* 27 */ {"Set Reader BaudRate", "设定读卡机通讯速度", "設定讀卡機通訊速度"},
    /* 28 */ {"Set Reader BaudRate Ok", "设定读卡机通讯速度完成", "設定讀卡機通訊速度完成"},
    /* 29 */ {"Set Reader BaudRate Error", "设定读卡机通讯速度错误", "設定讀卡機通訊速度錯誤"},
    /* 30 */ {"Set Reader Mode", "设定读卡机模式", "設定讀卡機模式"},
    /* 31 */ {"Set Reader Mode Ok", "设定读卡机模式完成", "設定讀卡機模式完成"},
    /* 32 */ {"Set Reader Mode Error", "设定读卡机模式错误", "設定讀卡機模式錯誤"},
    /* 33 */ {"Set Default Wiegand", "设定预设Wiegand模式", "設定預設Wiegand模式"},
    /* 34 */
    {"Set Default Wiegand 26 Ok", "设定预设Wiegand 26 模式完成", "設定預設Wiegand 26 模式完成"},
    /* 35 */
    {"Set Default Wiegand 26 Error", "设定预设Wiegand 26 模式错误", "設定預設Wiegand 26 模式錯誤"},
    /* 36 */
    {"Set Default Wiegand 34 Ok", "设定预设Wiegand 34 模式完成", "設定預設Wiegand 34 模式完成"},
    /* 37 */
    {"Set Default Wiegand 34 Error", "设定预设Wiegand 34 模式错误", "設定預設Wiegand 34 模式錯誤"},
    /* 38 */
    {"Set Default Wiegand 42 Ok", "设定预设Wiegand 42 模式完成", "設定預設Wiegand 42 模式完成"},
    /* 39 */
    {"Set Default Wiegand 42 Error", "设定预设Wiegand 42 模式错误", "設定預設Wiegand 42 模式錯誤"},
    /* 40 */ {"Set Default RS485", "设定预设RS485模式", "設定預設RS485模式"},
    /* 41 */ {"Set Default RS485 32 Ok", "设定预设RS485 32 模式完成", "設定預設RS485 32 模式完成"},
    /* 42 */
    {"Set Default RS485 32 Error", "设定预设RS485 32 模式错误", "設定預設RS485 32 模式錯誤"},
    /* 43 */ {"Set Default RS485 24 Ok", "设定预设RS485 24 模式完成", "設定預設RS485 24 模式完成"},
    /* 44 */
    {"Set Default RS485 24 Error", "设定预设RS485 24 模式错误", "設定預設RS485 24 模式錯誤"},
    /* 45 */
    {"Set Default RS485 115200 Ok", "设定预设RS485 115200 模式完成",
     "設定預設RS485 115200 模式完成"},
    /* 46 */
    {"Set Default RS485 115200 Error", "设定预设RS485 115200 模式错误",
     "設定預設RS485 115200 模式錯誤"},
}};

Language g_language = Language::English;

bool isLanguage(Language language)
{
    const auto at = static_cast<std::size_t>(language);
    return at < kLanguages.size();
}

} // namespace

std::string_view textIn(int k, Language language)
{
    if (k < 0 || k >= kTextCount || !isLanguage(language)) {
        return {};
    }
    return kTextTable[static_cast<std::size_t>(k)][static_cast<std::size_t>(language)];
}

Language currentLanguage()
{
    return g_language;
}

void setLanguage(Language language)
{
    g_language = isLanguage(language) ? language : Language::English;
}

std::string localText(int k)
{
    return std::string(textIn(k, g_language));
}

Language languageOf(std::string_view name)
{
    for (Language language : kLanguages) {
        if (name == languageName(language)) {
            return language;
        }
    }
    return Language::English;
}

} // namespace kt::text
