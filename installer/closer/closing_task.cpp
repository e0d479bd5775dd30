#include "closing_task.h"

#include "../../core/text_format.h"

// A braced GUID, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, copied into
// product: the text after it, or nullptr.
static const char *ReadProductCode(const char *text, char product[PRODUCT_CODE_SIZE])
{
    static const char Form[] = "{------------------------------------}";
    static_assert(sizeof Form == PRODUCT_CODE_SIZE, "a product code is a braced GUID");
    for (size_t i = 0; i + 1 < sizeof Form; ++i) {
        const char c = text[i];
        const int hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        const int dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (Form[i] == '-' ? (dash ? c != '-' : !hex) : c != Form[i])
            return nullptr;
        product[i] = c;
    }
    product[PRODUCT_CODE_SIZE - 1] = '\0';
    return text + PRODUCT_CODE_SIZE - 1;
}

// Windows Installer may leave a blank after the command it was given.
static int OnlyBlanks(const char *rest)
{
    while (rest != nullptr && *rest == ' ')
        ++rest;
    return rest != nullptr && *rest == '\0';
}

int ReadClosingOrders(const char *commandLine, char product[PRODUCT_CODE_SIZE])
{
    static const char *const Switches[] = {CLOSE_SWITCH, RESTART_SWITCH, FORGET_SWITCH};
    for (int task = CLOSE_RUNNING; task < NO_CLOSING_TASK; ++task) {
        const char *rest = AfterSwitch(commandLine, Switches[task]);
        if (rest == nullptr || *rest++ != ' ' || (rest = ReadProductCode(rest, product)) == nullptr)
            continue;
        if (OnlyBlanks(rest))
            return task;
    }
    return NO_CLOSING_TASK;
}
