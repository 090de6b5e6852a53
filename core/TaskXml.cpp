#include "core/TaskXml.h"

Text XmlEscaped(const Text& text) {
    Text escaped;
    escaped.reserve(text.size());
    for (TextChar c : text) {
        switch (c) {
        case UTF16('&'):
            escaped += UTF16("&amp;");
            break;
        case UTF16('<'):
            escaped += UTF16("&lt;");
            break;
        case UTF16('>'):
            escaped += UTF16("&gt;");
            break;
        case UTF16('"'):
            escaped += UTF16("&quot;");
            break;
        case UTF16('\''):
            escaped += UTF16("&apos;");
            break;
        default:
            const bool allowed = c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D;
            escaped += allowed && c != 0xFFFE && c != 0xFFFF ? c : static_cast<TextChar>(0xFFFD);
        }
    }
    return escaped;
}

Text NextStartTaskXml(const Text& description, const Text& program, const Text& arguments) {
    Text minutes;
    for (uint32_t m = NextStartTaskMinutes; m != 0; m /= 10)
        minutes.insert(minutes.begin(), static_cast<TextChar>(UTF16('0') + m % 10));
    return UTF16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                 "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
                 "  <RegistrationInfo>\r\n"
                 "    <Description>") +
           XmlEscaped(description) +
           UTF16("</Description>\r\n"
                 "  </RegistrationInfo>\r\n"
                 "  <Triggers>\r\n"
                 "    <BootTrigger>\r\n"
                 "      <Enabled>true</Enabled>\r\n"
                 "    </BootTrigger>\r\n"
                 "  </Triggers>\r\n"
                 "  <Principals>\r\n"
                 "    <Principal id=\"LocalSystem\">\r\n"
                 "      <UserId>S-1-5-18</UserId>\r\n"
                 "      <RunLevel>HighestAvailable</RunLevel>\r\n"
                 "    </Principal>\r\n"
                 "  </Principals>\r\n"
                 "  <Settings>\r\n"
                 "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
                 "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
                 "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
                 "    <ExecutionTimeLimit>PT") +
           minutes +
           UTF16("M</ExecutionTimeLimit>\r\n"
                 "    <Enabled>true</Enabled>\r\n"
                 "  </Settings>\r\n"
                 "  <Actions Context=\"LocalSystem\">\r\n"
                 "    <Exec>\r\n"
                 "      <Command>") +
           XmlEscaped(program) + UTF16("</Command>\r\n      <Arguments>") + XmlEscaped(arguments) +
           UTF16("</Arguments>\r\n"
                 "    </Exec>\r\n"
                 "  </Actions>\r\n"
                 "</Task>\r\n");
}
