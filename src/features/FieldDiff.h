// Two images compared for a person: Compare with Board in the programmer, and the text output of
// `tuvactl compare` and `tuvactl diff`.
//
// What a technician edits comes first, in the order the window shows it (page by page, each page
// from top left), then the bytes no editor shows (the version text, the pass-through bytes).
// Derived fields come last, each family folded into one row: the capcode group map and its seven
// copies follow from the capcodes, the time update's two other places and the message delay's
// in-use byte from their editors, the image sum and check bytes from the whole image. One capcode
// changed is then one row for the capcode and one row "Capcode group map (8 copies)", not nine
// rows with the capcode last. The JSON output keeps every field of the table instead.
#pragma once

#include <string>
#include <vector>

#include "features/FieldTable.h"
#include "image/ConfigImage.h"

namespace tuva {

struct DiffRow {
  std::string name;   // the field's name, or the family's ("capcode.group_map")
  std::string label;  // "Capcode #1", "Capcode group map (8 copies)"
  // The values as the programmer shows them, the bytes added where the texts alone look equal;
  // the distinct values of a folded family joined by ", ".
  std::string a;
  std::string b;
  std::vector<const Field*> fields;  // the rows of the table it stands for, in table order
  bool derived = false;
  std::string copies;  // "8 copies" for a folded family of copies, otherwise empty
};

struct ReadableDiff {
  std::vector<DiffRow> rows;
  int fields = 0;                    // rows that are not derived
  std::vector<std::string> derived;  // the families that differ, as the count names them
  bool derivedPlural = false;        // they take "differ", not "differs"
};

// `differing`: the rows of the table whose bits differ between `a` and `b` (DiffImages).
ReadableDiff ReadableDifferences(const std::vector<const Field*>& differing, const ConfigImage& a,
                                 const ConfigImage& b);
ReadableDiff ReadableDifferences(const ConfigImage& a, const ConfigImage& b);

// "1 field differs (and the group map that follows from it)", "3 fields differ", "The group map
// differs"; empty when nothing differs.
std::string DiffCount(const ReadableDiff& diff);

// The names of the fields an editor shows, in the window's order.
const std::vector<std::string>& WindowFieldOrder();

}  // namespace tuva
