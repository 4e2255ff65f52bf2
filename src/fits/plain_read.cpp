#include "fits/plain_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "numeric/pixel_values.h"

namespace zelvo {

namespace {

// CFITSIO's marker for "no BLANK keyword" in its column descriptions (fitsio2.h).
constexpr long long kNoBlank = 1234554321LL;

constexpr float kFloatMax = std::numeric_limits<float>::max();

// The conversion loops are built twice on x86-64, for AVX2 (which byte-swaps and selects
// eight pixels at a time) and for the baseline, and the loader picks what the processor has.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZELVO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZELVO_VECTOR_CLONES
#endif

inline uint16_t be16(const unsigned char* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return __builtin_bswap16(v);
}
inline uint32_t be32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}
inline uint64_t be64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// Whether a converted value overflowed (NaN cannot arise from a defined input).
inline bool overflowed(float v) { return std::fabs(v) > kFloatMax; }

// Integer data of 1, 2 or 4 bytes: BLANK (when checked) becomes the null value, the rest
// is value * scale + zero in double precision (exact for the unscaled case too).
template <class Int>
inline Int load_int(const unsigned char* p) {
  if constexpr (sizeof(Int) == 1) return static_cast<Int>(*p);
  if constexpr (sizeof(Int) == 2) return static_cast<Int>(be16(p));
  if constexpr (sizeof(Int) == 4) return static_cast<Int>(be32(p));
}

template <class Int>
inline bool integers(const unsigned char* __restrict raw, float* __restrict o, std::size_t n, const RawLayout& l,
                     float nullval) {
  constexpr std::size_t b = sizeof(Int);
  const double scale = l.scale, zero = l.zero;
  const bool scaled = !(scale == 1.0 && zero == 0.0);
  const Int blank = static_cast<Int>(l.blank);
  bool bad = false;
  if (!scaled && !l.blank_check) {
    for (std::size_t i = 0; i < n; ++i) o[i] = static_cast<float>(load_int<Int>(raw + i * b));
  } else if (!scaled) {
    for (std::size_t i = 0; i < n; ++i) {
      const Int v = load_int<Int>(raw + i * b);
      o[i] = v == blank ? nullval : static_cast<float>(v);
    }
  } else if (!l.blank_check) {
    for (std::size_t i = 0; i < n; ++i) {
      const float v = static_cast<float>(static_cast<double>(load_int<Int>(raw + i * b)) * scale + zero);
      o[i] = v;
      bad |= overflowed(v);
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const Int r = load_int<Int>(raw + i * b);
      const float v = r == blank ? nullval : static_cast<float>(static_cast<double>(r) * scale + zero);
      o[i] = v;
      bad |= overflowed(v);
    }
  }
  return !bad;
}

ZELVO_VECTOR_CLONES bool bytes_to_float(const unsigned char* __restrict raw, float* __restrict o, std::size_t n,
                                        const RawLayout& l, float nullval) {
  return integers<uint8_t>(raw, o, n, l, nullval);
}
ZELVO_VECTOR_CLONES bool shorts_to_float(const unsigned char* __restrict raw, float* __restrict o, std::size_t n,
                                         const RawLayout& l, float nullval) {
  return integers<int16_t>(raw, o, n, l, nullval);
}
ZELVO_VECTOR_CLONES bool longs_to_float(const unsigned char* __restrict raw, float* __restrict o, std::size_t n,
                                        const RawLayout& l, float nullval) {
  return integers<int32_t>(raw, o, n, l, nullval);
}

// 32-bit floats: the exponent decides. All ones (NaN, infinity) is undefined; all zeros
// (zero and denormals) is taken as 0, which scales to BZERO.
ZELVO_VECTOR_CLONES bool floats_to_float(const unsigned char* __restrict raw, float* __restrict o, std::size_t n,
                                         const RawLayout& l, float nullval) {
  constexpr uint32_t kExp = 0x7F800000u;
  const double scale = l.scale, zero = l.zero;
  if (scale == 1.0 && zero == 0.0) {
    for (std::size_t i = 0; i < n; ++i) {
      const uint32_t u = be32(raw + 4 * i), e = u & kExp;
      const float v = e == 0 ? 0.0f : std::bit_cast<float>(u);
      o[i] = e == kExp ? nullval : v;
    }
    return true;
  }
  const float under = static_cast<float>(zero);
  bool bad = false;
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t u = be32(raw + 4 * i), e = u & kExp;
    float v = static_cast<float>(static_cast<double>(std::bit_cast<float>(u)) * scale + zero);
    v = e == 0 ? under : v;
    v = e == kExp ? nullval : v;
    o[i] = v;
    bad |= overflowed(v);
  }
  return !bad;
}

// 64-bit floats, by the same exponent rule.
ZELVO_VECTOR_CLONES bool doubles_to_float(const unsigned char* __restrict raw, float* __restrict o, std::size_t n,
                                          const RawLayout& l, float nullval) {
  constexpr uint64_t kExp = 0x7FF0000000000000ull;
  const double scale = l.scale, zero = l.zero;
  const bool scaled = !(scale == 1.0 && zero == 0.0);
  const float under = scaled ? static_cast<float>(zero) : 0.0f;
  bool bad = false;
  for (std::size_t i = 0; i < n; ++i) {
    const uint64_t u = be64(raw + 8 * i), e = u & kExp;
    const double d = std::bit_cast<double>(u);
    float v = static_cast<float>(scaled ? d * scale + zero : d);
    v = e == 0 ? under : v;
    v = e == kExp ? nullval : v;
    o[i] = v;
    bad |= overflowed(v);
  }
  return !bad;
}

}  // namespace

bool convert_raw_pixels(const unsigned char* raw, const RawLayout& l, float nullval, std::span<float> out) {
  switch (l.bitpix) {
    case 8: return bytes_to_float(raw, out.data(), out.size(), l, nullval);
    case 16: return shorts_to_float(raw, out.data(), out.size(), l, nullval);
    case 32: return longs_to_float(raw, out.data(), out.size(), l, nullval);
    case -32: return floats_to_float(raw, out.data(), out.size(), l, nullval);
    case -64: return doubles_to_float(raw, out.data(), out.size(), l, nullval);
    default: return false;
  }
}

namespace {

// The layout of the current HDU as CFITSIO itself describes it, or false for anything this
// path does not handle.
bool plain_layout(fitsfile* f, RawLayout& l) {
  int status = 0;
  if (fits_is_compressed_image(f, &status) || status > 0) return false;
  FITSfile* F = f->Fptr;
  if (F == nullptr || F->curhdu != f->HDUposition || F->hdutype != IMAGE_HDU || F->tfield != 2 ||
      F->tableptr == nullptr)
    return false;
  const tcolumn& pixels = F->tableptr[1];
  if (pixels.tbcol != 0) return false;  // random groups: parameters before the pixels
  int bitpix = 0;
  if (fits_get_img_type(f, &bitpix, &status) > 0) return false;
  const int expected = bitpix == BYTE_IMG     ? TBYTE
                       : bitpix == SHORT_IMG  ? TSHORT
                       : bitpix == LONG_IMG   ? TLONG
                       : bitpix == FLOAT_IMG  ? TFLOAT
                       : bitpix == DOUBLE_IMG ? TDOUBLE
                                              : 0;
  if (expected == 0 || pixels.tdatatype != expected) return false;
  l.bitpix = bitpix;
  l.scale = pixels.tscale;
  l.zero = pixels.tzero;
  // CFITSIO checks BLANK only for integer data, and only a value the type can hold.
  const long long tnull = pixels.tnull;
  l.blank_check = false;
  if (bitpix > 0 && tnull != kNoBlank) {
    const long long lo = bitpix == 8    ? 0
                         : bitpix == 16 ? std::numeric_limits<int16_t>::min()
                                        : std::numeric_limits<int32_t>::min();
    const long long hi = bitpix == 8    ? 255
                         : bitpix == 16 ? std::numeric_limits<int16_t>::max()
                                        : std::numeric_limits<int32_t>::max();
    if (tnull >= lo && tnull <= hi) {
      l.blank_check = true;
      l.blank = tnull;
    } else if (bitpix == 32) {
      return false;  // a BLANK out of range of the data: leave it to CFITSIO
    }
  }
  LONGLONG headstart = 0, datastart = 0, dataend = 0;
  if (fits_get_hduaddrll(f, &headstart, &datastart, &dataend, &status) > 0) return false;
  l.offset = datastart;
  return true;
}

// Reads exactly `n` bytes at `offset`; false on an error or an early end of the file.
bool read_fully(int fd, unsigned char* buf, std::size_t n, long long offset) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, buf, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buf += got;
    n -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Folds the smallest and largest counted (finite) value of `v` into lo and hi. The fast pass
// keeps eight running extremes in two pairs of four-float registers (the baseline vector
// width of x86-64); a NaN never wins a comparison there, so only an infinity can reach its
// result, and then a careful pass over the chunk, still in cache, applies counted_pixel.
// The converters refuse values that overflow, but the range does not rest on that.
void fold_range(std::span<const float> v, float& lo, float& hi) {
  typedef float Four __attribute__((vector_size(16)));
  constexpr float kInf = std::numeric_limits<float>::infinity();
  Four l0 = {kInf, kInf, kInf, kInf}, h0 = -l0;
  Four l1 = l0, h1 = h0;
  const std::size_t n = v.size(), body = n - n % 8;
  for (std::size_t i = 0; i < body; i += 8) {
    Four a, b;
    std::memcpy(&a, v.data() + i, sizeof a);
    std::memcpy(&b, v.data() + i + 4, sizeof b);
    l0 = a < l0 ? a : l0;
    h0 = a > h0 ? a : h0;
    l1 = b < l1 ? b : l1;
    h1 = b > h1 ? b : h1;
  }
  float low = kInf, high = -kInf;
  for (int j = 0; j < 4; ++j) {
    low = l0[j] < low ? l0[j] : low;
    low = l1[j] < low ? l1[j] : low;
    high = h0[j] > high ? h0[j] : high;
    high = h1[j] > high ? h1[j] : high;
  }
  for (std::size_t i = body; i < n; ++i) {
    low = v[i] < low ? v[i] : low;
    high = v[i] > high ? v[i] : high;
  }
  if (!counted_pixel(low) || !counted_pixel(high)) {
    low = kInf;
    high = -kInf;
    for (const float x : v) {
      if (!counted_pixel(x)) continue;
      low = x < low ? x : low;
      high = x > high ? x : high;
    }
  }
  lo = low < lo ? low : lo;
  hi = high > hi ? high : hi;
}

}  // namespace

std::optional<ValueRange> read_plain_pixels(fitsfile* f, const std::string& path, float nullval, std::span<float> out) {
  RawLayout l;
  if (!plain_layout(f, l)) return std::nullopt;
  const std::size_t elem = static_cast<std::size_t>(l.bitpix < 0 ? -l.bitpix : l.bitpix) / 8;
  const long long bytes = static_cast<long long>(out.size()) * static_cast<long long>(elem);

  // The file must be the plain file CFITSIO reads: not gzip or any other packing (those
  // CFITSIO unpacks into memory, and their bytes on disk are not the data), so it starts
  // with SIMPLE and has the size CFITSIO sees.
  Descriptor d;
  // Never blocks: a FIFO or device is refused below before anything is read.
  d.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (d.fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(d.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (static_cast<long long>(st.st_size) != f->Fptr->logfilesize || l.offset + bytes > st.st_size) return std::nullopt;
  unsigned char head[6] = {};
  if (!read_fully(d.fd, head, sizeof head, 0) || std::memcmp(head, "SIMPLE", 6) != 0) return std::nullopt;

  // The data are read in chunks of kRawChunkBytes into a buffer that stays in cache, and
  // converted from there (a mapping of the file would save the copy, but a file cut short
  // while mapped ends the program with SIGBUS). The load needs the image's memory and one chunk.
  const std::size_t per_chunk = kRawChunkBytes / elem;
  std::vector<unsigned char> buf(std::min(out.size(), per_chunk) * elem);
  float low = std::numeric_limits<float>::infinity(), high = -low;
  for (std::size_t first = 0; first < out.size(); first += per_chunk) {
    const std::size_t n = std::min(per_chunk, out.size() - first);
    if (!read_fully(d.fd, buf.data(), n * elem, l.offset + static_cast<long long>(first * elem))) return std::nullopt;
    const std::span<float> chunk = out.subspan(first, n);
    if (!convert_raw_pixels(buf.data(), l, nullval, chunk)) return std::nullopt;
    fold_range(chunk, low, high);
  }
  if (low > high) low = high = 0.0f;  // no finite pixel: finite_range gives 0 and 0 too
  if (out.empty()) return std::nullopt;
  return ValueRange{low, high};
}

}  // namespace zelvo
