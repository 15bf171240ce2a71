#include "sim/Commands.h"

#include <algorithm>
#include <cstdio>

#include "ui/Cp1251.h"
#include "ui/Exception.h"

namespace ts::sim {

std::string KeyName(uint16_t mask) {
  switch (mask) {
    case kKeyEnter:
      return "Ввод";
    case kKeyF4:
      return "F4";
    case kKeyDown:
      return "Вниз";
    case kKeyLeft:
      return "Влево";
    case kKeyUp:
      return "Вверх";
    case kKeyRight:
      return "Вправо";
    case kKeyRightScreen:
      return "Экран►";
    case kKeyF2:
      return "F2";
    case kKeyF1:
      return "F1";
    case kKeyLeftScreen:
      return "◄Экран";
    case kKeyTesting:
      return "УЗ контроль";
    case kKeySettings:
      return "Настройка";
    case kKeyHelp:
      return "Помощь";
    case kKeyData:
      return "Данные";
    case kKeyF3:
      return "F3";
    default:
      return "";
  }
}

namespace {

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

std::string Meaning(const uint8_t* r, size_t size) {
  if (size != TS4170_REPORT_SIZE)
    return Format("длина %u байт, не %u: пропущен", unsigned(size), unsigned(TS4170_REPORT_SIZE));
  if (r[0] == kCommandReportId) {
    const uint16_t code = Word(r + 1), a1 = Word(r + 3), a2 = Word(r + 5), a3 = Word(r + 7);
    switch (code) {
      case kCodeKey: {
        const std::string name = KeyName(a1);
        return name.empty() ? Format("Клавиша: неизвестная маска 0x%04X", a1) : "Клавиша " + name;
      }
      case kCodeRestart:
        return "Рестарт";
      case kCodeLock:
        return "Блокировка клавиатуры";
      case kCodeUnlock:
        return "Разблокировка клавиатуры";
      case kCodeSound:
        return Format("Звук: дорожка %u", a1);
      case kCodeParameter:
        switch (a1) {
          case kParamGain:
            return Format("Усиление %u.%02u дБ", a2 / 100, a2 % 100);
          case kParamScreenWidth:
            return Format("Ширина экрана %u.%u мкс", a2 / 10, a2 % 10);
          case kParamUnits:
            return a2 < 4 ? std::string("Разметка ") + kUnitNames[a2]
                          : Format("Разметка: неизвестная %u", a2);
          default:
            return Format("Параметр 0x%04X = %u", a1, a2);
        }
      default:
        return Format("Команда 0x%04X (%u, %u, %u)", code, a1, a2, a3);
    }
  }
  if (r[0] == kMessageReportId && r[1] == kMessageMarker1 && r[2] == kMessageMarker2) {
    const char* text = reinterpret_cast<const char*>(r + kMessageTextOffset);
    const size_t n = std::find(text, text + kMessageTextSize, '\0') - text;
    const unsigned duration = Word(r + 7);
    return Format("Сообщение X=%u Y=%u на %u.%02u с: «", Word(r + 3), Word(r + 5),
                  duration / kMessageTicksPerSecond,
                  duration % kMessageTicksPerSecond * 100 / kMessageTicksPerSecond) +
           Cp1251ToUtf8(std::string_view(text, n)) + "»";
  }
  return Format("Неизвестный отчёт 0x%02X", r[0]);
}

}  // namespace

std::string DescribeOutputReport(const uint8_t* report, size_t size) {
  std::string hex;
  for (size_t i = 0; i < std::min<size_t>(size, 9); ++i) hex += Format("%02X ", report[i]);
  hex.resize(27, ' ');
  return hex + " " + Meaning(report, size);
}

}  // namespace ts::sim
