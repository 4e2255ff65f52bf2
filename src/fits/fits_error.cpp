#include "fits/fits_error.h"

#include <fitsio.h>

namespace zelvo {

void FitsError::add(std::string_view message) {
  stack.emplace_back(message.substr(0, FLEN_ERRMSG - 1));
  if (stack.size() > kFitsMessageDepth) stack.erase(stack.begin());
}

void take_fits_messages(FitsError& e) {
  char message[FLEN_ERRMSG] = {};
  while (fits_read_errmsg(message) > 0) e.add(message);
}

void set_fits_status(FitsError& e, int status) {
  take_fits_messages(e);
  e.status = status;
  char text[FLEN_STATUS] = {};
  if (status > 0) fits_get_errstatus(status, text);
  e.text = status > 0 ? text : "";
}

FitsError fits_failure(int status, std::initializer_list<std::string_view> own) {
  FitsError e;
  set_fits_status(e, status);
  for (const std::string_view m : own) e.add(m);
  return e;
}

}  // namespace zelvo
