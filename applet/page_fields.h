// The table of a page: each row binds one control to one field of the page and to the setting
// of the configuration record behind it. The setting tells the kind of control (a flag is a check
// box, any other number an edit of the setting's range, a text an edit of at most the setting's
// length) and the field of the record; the rows' order is the order in which the page writes
// and reads its controls, and reading stops at the first invalid one.
#pragma once

#include <cstdint>
#include <string>

#include "applet/exchange.h"
#include "config/configuration.h"
#include "config/settings.h"

namespace chron {

template <typename Page>
struct PageField {
  int control;
  int spin;                 // the up-down control that takes the setting's range, or 0
  uint32_t Page::*number;   // the page's field of a number setting (flags included), else nullptr
  std::string Page::*text;  // the page's field of a text setting, else nullptr
  const Setting& setting;
};

// Fields from the configuration record.
template <typename Page, typename Fields>
void LoadFields(Page& page, const Fields& fields, const Configuration& record) {
  for (const PageField<Page>& f : fields) {
    if (f.number != nullptr) page.*f.number = record.*f.setting.number;
    if (f.text != nullptr) page.*f.text = record.*f.setting.text;
  }
}

// The ranges of the up-down controls.
template <typename Page, typename Fields>
void SetFieldRanges(Dialog& dialog, const Fields& fields) {
  for (const PageField<Page>& f : fields) {
    if (f.spin != 0) {
      dialog.SetRange(f.spin, static_cast<int>(f.setting.min), static_cast<int>(f.setting.max));
    }
  }
}

// Fields to controls.
template <typename Page, typename Fields>
void WriteFields(Dialog& dialog, const Page& page, const Fields& fields) {
  for (const PageField<Page>& f : fields) {
    if (f.text != nullptr) {
      WriteText(dialog, f.control, page.*f.text, static_cast<int>(f.setting.max));
    } else if (f.setting.boolean) {
      WriteCheck(dialog, f.control, page.*f.number);
    } else {
      WriteUnsigned(dialog, f.control, page.*f.number);
    }
  }
}

// Controls to fields with validation: false at the first invalid control (its message shown);
// the fields before it have been read.
template <typename Page, typename Fields>
bool ReadFields(Dialog& dialog, Page& page, const Fields& fields) {
  for (const PageField<Page>& f : fields) {
    if (f.text != nullptr) {
      if (!ReadText(dialog, f.control, static_cast<int>(f.setting.max), &(page.*f.text))) return false;
    } else if (f.setting.boolean) {
      page.*f.number = ReadCheck(dialog, f.control);
    } else if (!ReadUnsigned(dialog, f.control, f.setting.min, f.setting.max, &(page.*f.number))) {
      return false;
    }
  }
  return true;
}

// Fields into the configuration record, flags as 0 or 1.
template <typename Page, typename Fields>
void ApplyFields(const Page& page, const Fields& fields, Configuration& record) {
  for (const PageField<Page>& f : fields) {
    if (f.text != nullptr) {
      record.*f.setting.text = page.*f.text;
    } else {
      const uint32_t value = page.*f.number;
      record.*f.setting.number = f.setting.boolean ? (value != 0 ? 1 : 0) : value;
    }
  }
}

}  // namespace chron
