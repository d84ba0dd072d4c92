"""What the cases learn of a Windows program, wherever Windows programs run here: its exit code
as Wine hands it to Linux, and its standard output and standard error kept apart."""

from cases.common import case, check


@case("win32")
def windows_programs_report_as_natively(ctx):
    code, output, messages = ctx.prefix.run_for_output(
        "cmd", ["/c", "echo to output& echo to errors 1>&2& exit 1603"], debug="-all")
    check(code == 1603 & 0xFF, "exit code %d, want %d" % (code, 1603 & 0xFF))
    check(output == "to output\r\n", "standard output %r" % output)
    check(messages.strip() == "to errors", "standard error %r" % messages)
