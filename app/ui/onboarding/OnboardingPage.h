#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace zephro {

// One page of the first-run window: string-table keys for its title and subtitle.
struct OnboardingPage {
  std::string_view title;
  std::string_view subtitle;
};

// A video among the application's resources: its name and extension.
struct OnboardingVideo {
  std::string_view resourceName;
  std::string_view fileExtension;
};

inline constexpr std::array<OnboardingPage, 5> kOnboardingPages{{
    {"onboarding_fans_title", "onboarding_fans_subtitle"},
    {"onboarding_presets_title", "onboarding_presets_subtitle"},
    {"onboarding_siri_title", "onboarding_siri_subtitle"},
    {"onboarding_menubar_title", "onboarding_menubar_subtitle"},
    {"onboarding_page3_title", "onboarding_page3_subtitle"},
}};

// The video a page shows; any index without one answers nothing.
[[nodiscard]] constexpr std::optional<OnboardingVideo> onboardingVideo(int page) {
  switch (page) {
    case 0:
      return OnboardingVideo{"demo1", "mp4"};
    case 1:
      return OnboardingVideo{"demo2", "mp4"};
    case 2:
      return OnboardingVideo{"demo3", "mp4"};
    case 3:
      return OnboardingVideo{"demo4", "mp4"};
    case 4:
      return OnboardingVideo{"zephro768pProRes4444", "mov"};
    default:
      return std::nullopt;
  }
}

}  // namespace zephro
