#include "python/panel_input.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace korva::py {

namespace {

// Interned names, created once by init_panel_input.
struct Names {
  PyObject* columns = nullptr;
  PyObject* index = nullptr;
  PyObject* to_numpy = nullptr;
  PyObject* tolist = nullptr;
  PyObject* strftime = nullptr;
  PyObject* date_format = nullptr;
  PyObject* dates = nullptr;
  PyObject* symbols = nullptr;
  PyObject* data = nullptr;
};
Names names;

std::unexpected<Raised> raise_panel(std::string_view name, std::string_view what) {
  std::string message = "panel `";
  message += name;
  message += "`";
  message += what;
  return raise(PyExc_ValueError, message);
}

// ---------------------------------------------------------------------------------------
// Dates

// Decimal 32-bit integer over code points: an optional sign, then ASCII digits only.
// Returns the failure reason, or nullptr with the value in `out`.
template <typename CodePointAt>
const char* parse_i32(Py_ssize_t length, CodePointAt at, std::int32_t& out) {
  if (length == 0) return "cannot parse integer from empty string";
  Py_ssize_t i = 0;
  bool negative = false;
  const Py_UCS4 first = at(0);
  if (first == '+' || first == '-') {
    if (length == 1) return "invalid digit found in string";
    negative = first == '-';
    i = 1;
  }
  std::int64_t value = 0;
  for (; i < length; ++i) {
    const Py_UCS4 ch = at(i);
    if (ch < '0' || ch > '9') return "invalid digit found in string";
    const int digit = static_cast<int>(ch - '0');
    value = value * 10 + (negative ? -digit : digit);
    if (value > std::numeric_limits<std::int32_t>::max()) {
      return "number too large to fit in target type";
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
      return "number too small to fit in target type";
    }
  }
  out = static_cast<std::int32_t>(value);
  return nullptr;
}

// Makes the code points of a str readable (a no-op on current interpreters).
bool ready(PyObject* str) {
#if PY_VERSION_HEX < 0x030C0000
  return PyUnicode_READY(str) == 0;
#else
  (void)str;
  return true;
#endif
}

std::unexpected<Raised> raise_bad_date(PyObject* text, const char* reason) {
  PyErr_Format(PyExc_ValueError, "bad date `%U`: %s", text, reason);
  return raised();
}

// Step 1 of date_to_i32: an integer in the 32-bit range, or nothing (no error set).
std::optional<std::int32_t> integer_date(PyObject* obj) {
  // Strings and date objects have no index conversion: skip raising and clearing an error.
  if (!PyLong_Check(obj) && !PyIndex_Check(obj)) return std::nullopt;
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) {
    PyErr_Clear();
    return std::nullopt;
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (v == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  if (overflow != 0 || v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(v);
}

PyResult<Dates> read_dates(PyObject* iterable) {
  Dates dates;
  Ref iter = Ref::steal(PyObject_GetIter(iterable));
  if (!iter) return raised();
  while (Ref item = Ref::steal(PyIter_Next(iter.get()))) {
    auto date = date_to_i32(item.get());
    if (!date) return raised();
    dates.push_back(*date);
  }
  if (PyErr_Occurred()) return raised();
  return dates;
}

// ---------------------------------------------------------------------------------------
// Symbols

PyResult<Symbols> read_labels(PyObject* iterable) {
  Symbols symbols;
  Ref iter = Ref::steal(PyObject_GetIter(iterable));
  if (!iter) return raised();
  while (Ref item = Ref::steal(PyIter_Next(iter.get()))) {
    Ref text = Ref::steal(PyObject_Str(item.get()));
    if (!text) return raised();
    auto view = utf8(text.get());
    if (!view) return raised();
    symbols.emplace_back(*view);
  }
  if (PyErr_Occurred()) return raised();
  return symbols;
}

PyResult<Symbols> read_symbols(PyObject* iterable) {
  Symbols symbols;
  Ref iter = Ref::steal(PyObject_GetIter(iterable));
  if (!iter) return raised();
  while (Ref item = Ref::steal(PyIter_Next(iter.get()))) {
    if (!PyUnicode_Check(item.get())) return raise_cannot_cast(item.get(), "str");
    auto view = utf8(item.get());
    if (!view) return raised();
    symbols.emplace_back(*view);
  }
  if (PyErr_Occurred()) return raised();
  return symbols;
}

// ---------------------------------------------------------------------------------------
// Cells, generic path: iterate the rows and their cells.

PyResult<void> store_cell(PyObject* cell, double& dst) {
  if (cell == Py_None) return {};
  if (PyFloat_CheckExact(cell)) {
    dst = PyFloat_AS_DOUBLE(cell);
    return {};
  }
  const double d = PyFloat_AsDouble(cell);
  if (d == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return raise(PyExc_ValueError, "panel cells must be numbers or None");
  }
  dst = d;
  return {};
}

std::unexpected<Raised> raise_wide_row(std::string_view name, std::size_t r) {
  return raise_panel(name, ": row " + std::to_string(r) + " has more cells than symbols");
}

PyResult<void> read_row(std::string_view name, std::size_t r, PyObject* row, Matrix& m) {
  const std::size_t cols = m.cols();
  double* out = m.row(r);
  if (PyList_CheckExact(row) || PyTuple_CheckExact(row)) {
    // Same order of events as iteration; the size is re-read because a cell's float
    // conversion may run code that shrinks a list.
    for (Py_ssize_t c = 0; c < PySequence_Fast_GET_SIZE(row); ++c) {
      if (static_cast<std::size_t>(c) == cols) return raise_wide_row(name, r);
      Ref cell = Ref::borrow(PySequence_Fast_GET_ITEM(row, c));
      if (!store_cell(cell.get(), out[c])) return raised();
    }
    return {};
  }
  Ref iter = Ref::steal(PyObject_GetIter(row));
  if (!iter) return raised();
  std::size_t c = 0;
  while (Ref cell = Ref::steal(PyIter_Next(iter.get()))) {
    if (c == cols) return raise_wide_row(name, r);
    if (!store_cell(cell.get(), out[c])) return raised();
    ++c;
  }
  if (PyErr_Occurred()) return raised();
  return {};
}

PyResult<void> read_rows(std::string_view name, PyObject* rows, Matrix& m) {
  Ref iter = Ref::steal(PyObject_GetIter(rows));
  if (!iter) return raised();
  std::size_t r = 0;
  while (Ref row = Ref::steal(PyIter_Next(iter.get()))) {
    if (r == m.rows()) return raise_panel(name, ": more data rows than dates");
    if (!read_row(name, r, row.get(), m)) return raised();
    ++r;
  }
  if (PyErr_Occurred()) return raised();
  return {};
}

// ---------------------------------------------------------------------------------------
// Cells, fast path: a two-dimensional numeric buffer read in place.

class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (held_) PyBuffer_Release(&view_);
  }
  // Requests a strided view with its item format; false (no error set) when refused.
  bool acquire(PyObject* obj) {
    if (!PyObject_CheckBuffer(obj)) return false;
    if (PyObject_GetBuffer(obj, &view_, PyBUF_RECORDS_RO) < 0) {
      PyErr_Clear();
      return false;
    }
    held_ = true;
    return true;
  }
  const Py_buffer& view() const { return view_; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

enum class Item { F64, F32, I8, I16, I32, I64, U8, U16, U32, U64, Bool };

// The item type of a buffer whose cells this path can read, or none (half floats,
// complex numbers, objects, records, foreign byte order) for the generic path.
std::optional<Item> item_of(const Py_buffer& view) {
  const char* f = view.format != nullptr ? view.format : "B";
  char order = '@';
  if (*f == '@' || *f == '=' || *f == '<' || *f == '>' || *f == '!') order = *f++;
  if (f[0] == '\0' || f[1] != '\0') return std::nullopt;
  constexpr bool kLittle = std::endian::native == std::endian::little;
  if ((order == '<' && !kLittle) || ((order == '>' || order == '!') && kLittle)) {
    return std::nullopt;
  }
  const Py_ssize_t size = view.itemsize;
  auto by_size = [size](Item i8, Item i16, Item i32, Item i64) -> std::optional<Item> {
    switch (size) {
      case 1:
        return i8;
      case 2:
        return i16;
      case 4:
        return i32;
      case 8:
        return i64;
      default:
        return std::nullopt;
    }
  };
  switch (f[0]) {
    case 'd':
      return size == 8 ? std::optional(Item::F64) : std::nullopt;
    case 'f':
      return size == 4 ? std::optional(Item::F32) : std::nullopt;
    case '?':
      return size == 1 ? std::optional(Item::Bool) : std::nullopt;
    case 'b':
    case 'h':
    case 'i':
    case 'l':
    case 'q':
    case 'n':
      return by_size(Item::I8, Item::I16, Item::I32, Item::I64);
    case 'B':
    case 'H':
    case 'I':
    case 'L':
    case 'Q':
    case 'N':
      return by_size(Item::U8, Item::U16, Item::U32, Item::U64);
    default:
      return std::nullopt;
  }
}

// A one-byte bool item; any non-zero byte reads as true.
struct BoolByte {
  unsigned char byte;
};

template <typename T>
inline double load(const char* p) {
  T x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::is_same_v<T, BoolByte>) {
    return x.byte != 0 ? 1.0 : 0.0;
  } else {
    return static_cast<double>(x);
  }
}

// Copies the rows x cols block at `base` (byte strides s0 between rows, s1 between
// cells) into the top-left corner of `m`. Column-major sources are walked in square tiles
// (rows inside a tile written contiguously) so the strided reads of a tile stay cached.
template <typename T>
void copy_block(const char* base, Py_ssize_t s0, Py_ssize_t s1, std::size_t rows, std::size_t cols,
                Matrix& m) {
  const auto nr = static_cast<Py_ssize_t>(rows);
  const auto nc = static_cast<Py_ssize_t>(cols);
  if (std::abs(s1) <= std::abs(s0)) {
    for (Py_ssize_t r = 0; r < nr; ++r) {
      const char* src = base + r * s0;
      double* dst = m.row(static_cast<std::size_t>(r));
      for (Py_ssize_t c = 0; c < nc; ++c) dst[c] = load<T>(src + c * s1);
    }
    return;
  }
  constexpr Py_ssize_t kTile = 64;
  for (Py_ssize_t r0 = 0; r0 < nr; r0 += kTile) {
    const Py_ssize_t r1 = std::min(nr, r0 + kTile);
    for (Py_ssize_t c0 = 0; c0 < nc; c0 += kTile) {
      const Py_ssize_t c1 = std::min(nc, c0 + kTile);
      for (Py_ssize_t r = r0; r < r1; ++r) {
        const char* src = base + r * s0;
        double* dst = m.row(static_cast<std::size_t>(r));
        for (Py_ssize_t c = c0; c < c1; ++c) dst[c] = load<T>(src + c * s1);
      }
    }
  }
}

// Whether `rows` is a plain NumPy array. Only there do the buffer's cells, the cells met
// by iterating the array and the cells of its `tolist()` agree: subclasses change
// iteration or `tolist` (masked arrays yield None for masked cells, matrices yield
// matrices), and a two-dimensional memoryview cannot be iterated at all.
bool plain_ndarray(PyObject* rows) {
  return std::string_view(Py_TYPE(rows)->tp_name) == "numpy.ndarray";
}

// Reads the cells from a two-dimensional numeric buffer. Gives no value (and sets no
// error) when `rows` is not a plain array exposing such a buffer.
std::optional<PyResult<void>> read_buffer(std::string_view name, PyObject* rows, Matrix& m) {
  if (!plain_ndarray(rows)) return std::nullopt;
  Buffer buffer;
  if (!buffer.acquire(rows)) return std::nullopt;
  const Py_buffer& view = buffer.view();
  if (view.ndim != 2 || view.shape == nullptr || view.strides == nullptr ||
      view.suboffsets != nullptr) {
    return std::nullopt;
  }
  const auto item = item_of(view);
  if (!item) return std::nullopt;
  const auto nrows = static_cast<std::size_t>(view.shape[0]);
  const auto ncols = static_cast<std::size_t>(view.shape[1]);
  // The checks of the row walk, in the order in which it would meet them.
  if (nrows > 0) {
    if (m.rows() == 0) return raise_panel(name, ": more data rows than dates");
    if (ncols > m.cols()) return raise_wide_row(name, 0);
    if (nrows > m.rows()) return raise_panel(name, ": more data rows than dates");
  }
  const char* base = static_cast<const char*>(view.buf);
  const Py_ssize_t s0 = view.strides[0];
  const Py_ssize_t s1 = view.strides[1];
  switch (*item) {
    case Item::F64:
      copy_block<double>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::F32:
      copy_block<float>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::I8:
      copy_block<std::int8_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::I16:
      copy_block<std::int16_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::I32:
      copy_block<std::int32_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::I64:
      copy_block<std::int64_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::U8:
      copy_block<std::uint8_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::U16:
      copy_block<std::uint16_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::U32:
      copy_block<std::uint32_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::U64:
      copy_block<std::uint64_t>(base, s0, s1, nrows, ncols, m);
      break;
    case Item::Bool:
      copy_block<BoolByte>(base, s0, s1, nrows, ncols, m);
      break;
  }
  return PyResult<void>{};
}

// Whether a rows x cols matrix of doubles can be held at all: a few short label lists
// could otherwise ask for more memory than the machine has, and filling such a block
// would end in the out-of-memory killer rather than in a MemoryError.
bool fits_in_memory(std::size_t rows, std::size_t cols) {
  if (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / sizeof(double) / cols) {
    return false;
  }
  const std::size_t bytes = rows * cols * sizeof(double);
#if defined(__linux__)
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    return bytes / static_cast<std::size_t>(page_size) <= static_cast<std::size_t>(pages);
  }
#endif
  return true;
}

// A matrix of NaN cells. Large matrices ask for transparent huge pages before the first
// write: filling a fresh 100 MB block page by page costs more than the copy itself.
Matrix nan_matrix(std::size_t rows, std::size_t cols) {
  const std::size_t n = rows * cols;
  std::vector<double> cells;
  cells.reserve(n);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (n * sizeof(double) >= 2 * kHuge) {
    const auto begin = reinterpret_cast<std::uintptr_t>(cells.data());
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + n * sizeof(double)) & ~(kHuge - 1);
    if (last > first) {
      madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // advisory only
    }
  }
#endif
  cells.assign(n, kNaN);
  return Matrix(rows, cols, std::move(cells));
}

PyResult<Panel> build_panel(std::string_view name, Dates dates, Symbols symbols, Matrix m) {
  auto panel = Panel::create(std::move(dates), std::move(symbols), std::move(m));
  if (!panel) return raise_panel(name, ": " + panel.error().display());
  return std::move(*panel);
}

// Fills the matrix from `cells`: a numeric buffer when it has one, else `fallback()`
// (which yields the rows object to iterate).
template <typename Fallback>
PyResult<Panel> rows_to_panel(std::string_view name, Dates dates, Symbols symbols, PyObject* cells,
                              Fallback fallback) {
  if (!fits_in_memory(dates.size(), symbols.size())) {
    PyErr_NoMemory();
    return raised();
  }
  Matrix m = nan_matrix(dates.size(), symbols.size());
  if (auto fast = read_buffer(name, cells, m)) {
    if (!*fast) return raised();
  } else {
    auto rows = fallback();
    if (!rows) return raised();
    if (!read_rows(name, rows->get(), m)) return raised();
  }
  return build_panel(name, std::move(dates), std::move(symbols), std::move(m));
}

PyResult<Panel> frame_to_panel(std::string_view name, PyObject* frame, PyObject* index,
                               PyObject* columns) {
  auto dates = read_dates(index);
  if (!dates) return raised();
  auto symbols = read_labels(columns);
  if (!symbols) return raised();
  Ref array = Ref::steal(PyObject_CallMethodNoArgs(frame, names.to_numpy));
  if (!array) return raised();
  return rows_to_panel(
      name, std::move(*dates), std::move(*symbols), array.get(), [&]() -> PyResult<Ref> {
        Ref rows = Ref::steal(PyObject_CallMethodNoArgs(array.get(), names.tolist));
        if (!rows) return raised();
        return rows;
      });
}

// The dict's entry under `key` (exact lookup, no __missing__), or the missing-key error.
PyResult<Ref> panel_entry(std::string_view name, PyObject* dict, PyObject* key,
                          const char* key_text) {
  PyObject* item = PyDict_GetItemWithError(dict, key);
  if (item == nullptr) {
    if (PyErr_Occurred()) return raised();
    return raise_panel(name, std::string(": missing key `") + key_text + "`");
  }
  return Ref::borrow(item);
}

PyResult<Panel> dict_to_panel(std::string_view name, PyObject* dict) {
  auto dates_obj = panel_entry(name, dict, names.dates, "dates");
  if (!dates_obj) return raised();
  auto dates = read_dates(dates_obj->get());
  if (!dates) return raised();
  auto symbols_obj = panel_entry(name, dict, names.symbols, "symbols");
  if (!symbols_obj) return raised();
  auto symbols = read_symbols(symbols_obj->get());
  if (!symbols) return raised();
  auto data = panel_entry(name, dict, names.data, "data");
  if (!data) return raised();
  return rows_to_panel(name, std::move(*dates), std::move(*symbols), data->get(),
                       [&]() -> PyResult<Ref> { return Ref::borrow(data->get()); });
}

}  // namespace

bool init_panel_input() {
  const std::pair<PyObject**, const char*> all[] = {
      {&names.columns, "columns"}, {&names.index, "index"},       {&names.to_numpy, "to_numpy"},
      {&names.tolist, "tolist"},   {&names.strftime, "strftime"}, {&names.date_format, "%Y%m%d"},
      {&names.dates, "dates"},     {&names.symbols, "symbols"},   {&names.data, "data"},
  };
  for (auto [slot, text] : all) {
    if (*slot == nullptr) *slot = PyUnicode_InternFromString(text);
    if (*slot == nullptr) return false;
  }
  return true;
}

PyResult<std::int32_t> date_to_i32(PyObject* obj) {
  if (auto date = integer_date(obj)) return *date;
  auto strftime = optional_attr(obj, names.strftime);
  if (!strftime) return raised();
  if (*strftime) {
    Ref text = Ref::steal(PyObject_CallOneArg(strftime->get(), names.date_format));
    if (!text) return raised();
    if (!PyUnicode_Check(text.get())) return raise_cannot_cast(text.get(), "str");
    if (!ready(text.get())) return raised();
    const int kind = PyUnicode_KIND(text.get());
    const void* data = PyUnicode_DATA(text.get());
    std::int32_t out = 0;
    const char* reason = parse_i32(
        PyUnicode_GET_LENGTH(text.get()),
        [&](Py_ssize_t i) { return PyUnicode_READ(kind, data, i); }, out);
    if (reason != nullptr) return raise_bad_date(text.get(), reason);
    return out;
  }
  if (PyUnicode_Check(obj)) {
    if (!ready(obj)) return raised();
    // Only the ASCII digits count: "2024-01-31" and "2024/01/31" both read as 20240131.
    const int kind = PyUnicode_KIND(obj);
    const void* data = PyUnicode_DATA(obj);
    std::vector<Py_UCS4> digits;
    for (Py_ssize_t i = 0; i < PyUnicode_GET_LENGTH(obj); ++i) {
      const Py_UCS4 ch = PyUnicode_READ(kind, data, i);
      if (ch >= '0' && ch <= '9') digits.push_back(ch);
    }
    std::int32_t out = 0;
    const char* reason = parse_i32(
        static_cast<Py_ssize_t>(digits.size()),
        [&](Py_ssize_t i) { return digits[static_cast<std::size_t>(i)]; }, out);
    if (reason != nullptr) return raise_bad_date(obj, reason);
    return out;
  }
  return raise(PyExc_ValueError, "cannot interpret `" + type_name(obj) + "` as a YYYYMMDD date");
}

PyResult<Panel> panel_from_py(std::string_view name, PyObject* value) {
  auto columns = optional_attr(value, names.columns);
  if (!columns) return raised();
  if (*columns) {
    auto index = optional_attr(value, names.index);
    if (!index) return raised();
    if (*index) return frame_to_panel(name, value, index->get(), columns->get());
  }
  if (PyDict_Check(value)) return dict_to_panel(name, value);
  return raise_panel(name, " must be a DataFrame or a dict with dates/symbols/data");
}

PyResult<Ref> panel_to_py(const Panel& panel) {
  Ref data = Ref::steal(PyList_New(static_cast<Py_ssize_t>(panel.rows())));
  if (!data) return raised();
  for (std::size_t r = 0; r < panel.rows(); ++r) {
    Ref row = Ref::steal(PyList_New(static_cast<Py_ssize_t>(panel.cols())));
    if (!row) return raised();
    const double* cells = panel.data.row(r);
    for (std::size_t c = 0; c < panel.cols(); ++c) {
      PyObject* cell = PyFloat_FromDouble(cells[c]);
      if (cell == nullptr) return raised();
      PyList_SET_ITEM(row.get(), static_cast<Py_ssize_t>(c), cell);
    }
    PyList_SET_ITEM(data.get(), static_cast<Py_ssize_t>(r), row.release());
  }
  Ref dates = Ref::steal(PyList_New(static_cast<Py_ssize_t>(panel.rows())));
  if (!dates) return raised();
  for (std::size_t r = 0; r < panel.rows(); ++r) {
    PyObject* date = PyLong_FromLong(panel.dates[r]);
    if (date == nullptr) return raised();
    PyList_SET_ITEM(dates.get(), static_cast<Py_ssize_t>(r), date);
  }
  Ref symbols = Ref::steal(PyList_New(static_cast<Py_ssize_t>(panel.cols())));
  if (!symbols) return raised();
  for (std::size_t c = 0; c < panel.cols(); ++c) {
    PyObject* symbol = new_str(panel.symbols[c]);
    if (symbol == nullptr) return raised();
    PyList_SET_ITEM(symbols.get(), static_cast<Py_ssize_t>(c), symbol);
  }
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return raised();
  if (PyDict_SetItem(dict.get(), names.data, data.get()) < 0 ||
      PyDict_SetItem(dict.get(), names.dates, dates.get()) < 0 ||
      PyDict_SetItem(dict.get(), names.symbols, symbols.get()) < 0) {
    return raised();
  }
  return dict;
}

}  // namespace korva::py
