#include "app/core/Detach.h"

#include "app/core/RemoteError.h"
#include "platform/log/Log.h"

namespace zephro {
namespace {
int running = 0;
}  // namespace

void detach(QCoro::Task<> task, std::string what) {
  detail::awaitDetached(std::move(task), std::move(what));
}

std::string describeException(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const RemoteError& remote) {
    return remote.error().fullDescription();
  } catch (const std::exception& exception) {
    return exception.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

int runningDetachedTasks() {
  return running;
}

namespace detail {
DetachedTaskCount::DetachedTaskCount() {
  ++running;
}
DetachedTaskCount::~DetachedTaskCount() {
  --running;
}

void logDetachedFailure(const std::string& what, const std::exception_ptr& error) {
  log::write("[Zephro] " + what + " failed: " + describeException(error));
}
}  // namespace detail

}  // namespace zephro
