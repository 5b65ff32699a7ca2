// The chat lines the program sends, each before the value that follows it (if any). Shared by
// the handlers and the configuration checker, which works out how much of a value fits.
#pragma once

namespace app {

// Greeting at start-up.
inline constexpr const char* kSeparatorLine =
    "/msg ^3>>^7-----------------------------------------^3<<";
inline constexpr char kActivationLine[] = "/msg ^1>> ^7Travo by ^3Travo Project ^7est\xE1 activado";
static_assert(sizeof kActivationLine - 1 <= 63, "the activation line must fit one chat line");
inline constexpr const char* kCommandsLine =
    "/msg ^1>> ^7Comandos disponibles: ^3!fb !web !luz !r1 !r0";
inline constexpr const char* kGreetingFacebook = "/msg ^1>> ^7Nuestro facebook es: ^7";
inline constexpr const char* kGreetingWeb = "/msg ^1>> ^7P\xE1gina web: ^3";

// Answers to the chat commands.
inline constexpr const char* kFacebookAnswer = "/msg ^3>> ^7Nuestro facebook es: ^7";
inline constexpr const char* kLightsAnswer = "/msg ";
inline constexpr const char* kWebAnswer = "/msg ^3>> ^7P\xE1gina web: ^7";

// Welcome lines for a player who joins (with the separator and the commands line).
inline constexpr const char* kWelcomeServer = "/msg ^1>> ^7Bienvenido a ^3";
inline constexpr const char* kWelcomeFacebook = "/msg ^1>> ^7Nuestro facebook es: ^3";
inline constexpr const char* kWelcomeExtra = "/msg ^1>> ^7";

// Welcome panel buttons that carry a value.
inline constexpr const char* kPanelValuePrefix = "^7";

}  // namespace app
