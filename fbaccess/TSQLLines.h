#pragma once

#include <functional>
#include <string>
#include <vector>

// The statement text of a query as an ordered list of lines. The text is the
// lines in order, each followed by CR LF. Every change made through the list
// calls the owner back (the query closes, drops its preparation and re-reads
// its parameters).
class TSQLLines {
 public:
  explicit TSQLLines(std::function<void()> onChange) : onChange_(std::move(onChange)) {}

  void Clear();
  void Add(const std::string& line);
  void Set(int index, const std::string& line);
  // Splits the text at CR LF, LF or CR into lines.
  void SetText(const std::string& text);
  // Replaces the whole list; calls back only when the text differs.
  void Assign(const std::vector<std::string>& lines);

  std::string Text() const;
  int Count() const { return int(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(std::size_t(index)); }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  static std::vector<std::string> Split(const std::string& text);
  void Changed();

  std::vector<std::string> lines_;
  std::function<void()> onChange_;
};
