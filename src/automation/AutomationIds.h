// The names and identifiers under which the automation object is known on the session bus.
#pragma once

#include <QLatin1StringView>

namespace orvane::automation {

inline constexpr QLatin1StringView kServiceName{"Orvane.Application"};
inline constexpr QLatin1StringView kClassId{"{9DD32FA7-B6EA-11D2-806B-00105AA8A7D8}"};
inline constexpr QLatin1StringView kInterfaceId{"{9DD32FA9-B6EA-11D2-806B-00105AA8A7D8}"};

inline constexpr QLatin1StringView kFactoryPath{"/"};
inline constexpr QLatin1StringView kFactoryInterface{"Orvane.ClassFactory"};
inline constexpr QLatin1StringView kProxyPath{"/Orvane/Application"};
inline constexpr QLatin1StringView kProxyInterface{"Orvane.Application"};
inline constexpr QLatin1StringView kLifetimeInterface{"Orvane.Lifetime"};

}  // namespace orvane::automation
