"""Devices already plugged in"""

import shutil

import wine_env
from wine_env import log_records
from cases.common import (
    BANNER, CLOSING, HEADING, LOG_NAME, case, check, empty_folder, run_program)
from cases.modem_inf import helper


OUR_DEVICE = "USB\\VID_1A86&PID_E0A1"
OTHER_DEVICE = "USB\\VID_0403&PID_6001"
DEVICES_INSTALLED = "INFO: 已为已连接的设备安装驱动 \n"


def devices(ctx, hardware_id):
    """(driver key, description, driver INF) of each present device with the hardware ID."""
    found = []
    code, output = ctx.prefix.run_for_output(ctx.helper, ["devices", hardware_id])
    check(code == 0, "cannot list the devices")
    for line in output.splitlines():
        driver, description, inf = line.split("\t")
        found.append((driver, description, inf))
    return found


def run_with_devices(ctx, folder, record):
    """One fresh Windows 10 run; `record` is the device step's, or None."""
    log = folder / LOG_NAME
    log.unlink(missing_ok=True)
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    bits = "64" if ctx.prefix.arch == "win64" else "32"
    first = "INFO: Windows10 %sBits System%s\n" % (bits, " " if bits == "64" else "")
    messages = [m.decode("gbk") for _, m in log_records(log.read_bytes())]
    want_end = HEADING + ["SUCC: 驱动预安装函数运行成功。\n"] + ([record] if record else []) + \
        ["SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"] + CLOSING
    check(messages[:4] == BANNER + [first] and messages[-len(want_end):] == want_end,
          "the log is %r, want it to end %r" % (messages, want_end))


def devices_get_the_driver(ctx, through_helper):
    ctx.prefix.create()
    try:
        ctx.prefix.set_version("win10")
        helper(ctx, "make-device", OUR_DEVICE)
        helper(ctx, "make-device", OTHER_DEVICE)
        folder = ctx.program_folder("devices")
        if not through_helper:
            # 32-bit Windows installs in the program's own process: the helper is not needed.
            (folder / "QZ_DeviceInstall64.exe").unlink()
        run_with_devices(ctx, folder, DEVICES_INSTALLED)
        ours = devices(ctx, OUR_DEVICE)
        check(len(ours) == 1 and ours[0][0] != "-" and ours[0][1] == "QZ USB to UART",
              "our device after the run: %r" % ours)
        check(devices(ctx, OTHER_DEVICE) == [("-", "-", "-")], "the other device changed")
        # On our staged INF now: the next run has nothing to say about devices.
        run_with_devices(ctx, folder, None)
        if through_helper:
            # Without the helper a 64-bit system cannot install onto a device: the run says so.
            helper(ctx, "make-device", OUR_DEVICE)
            (folder / "QZ_DeviceInstall64.exe").unlink()
            run_with_devices(ctx, folder, "FAIL: 为已连接的设备安装驱动失败，错误码 2 \n")
            check(sum(d[0] == "-" for d in devices(ctx, OUR_DEVICE)) == 1,
                  "a device got the driver without the helper")
            # Another program in the helper's place is not started (ERROR_INVALID_IMAGE_HASH).
            shutil.copy(ctx.helper, folder / "QZ_DeviceInstall64.exe")
            run_with_devices(ctx, folder, "FAIL: 为已连接的设备安装驱动失败，错误码 577 \n")
            check(sum(d[0] == "-" for d in devices(ctx, OUR_DEVICE)) == 1,
                  "a device got the driver through a replaced helper")
    finally:
        ctx.prefix.kill()
    shutil.rmtree(ctx.prefix.path, ignore_errors=True)


@case("own64")
def devices_get_the_driver_through_the_64_bit_helper(ctx):
    devices_get_the_driver(ctx, through_helper=True)


@case("own32")
def devices_get_the_driver_in_process_on_32_bit_windows(ctx):
    devices_get_the_driver(ctx, through_helper=False)


def package_hardware_ids(ctx, decorated):
    """The package's IDs as the program reads them through the Setup API's own parser."""
    folder = empty_folder(ctx, "hardware_ids_" + decorated)
    version = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
    infs = {
        "decorated": (version + "[Manufacturer]\r\n%Mfg%=QZ,NTx86,NTamd64\r\n"
                      "[QZ.NTx86]\r\n%Dev%=Install,USB\\VID_1A86&PID_0086,USB\\VID_1A86&PID_0087\r\n"
                      "[QZ.NTamd64]\r\n%Dev%=Install,USB\\VID_1A86&PID_0064\r\n"
                      "%Dev%=Install,%OtherId%\r\n"
                      "[Strings]\r\nMfg=\"QZ\"\r\nDev=\"QZ UART\"\r\n"
                      "OtherId=\"USB\\VID_1A86&PID_0065\"\r\n").encode("ascii"),
        "plain_nt": (version + "[Manufacturer]\r\nQZ=QZ,NT\r\n[QZ.NT]\r\n"
                     "Dev=Install,USB\\VID_1A86&PID_00AA\r\n").encode("ascii"),
        "undecorated": (version + "[Manufacturer]\r\nQZ=QZ\r\n[QZ]\r\n"
                        "Dev=Install,USB\\VID_1A86&PID_00BB\r\n").encode("ascii"),
        "rejected": b"\x00\x01 not an INF \xff\xfe\x00",
    }
    wanted = {
        # 64-bit Windows reads only models whose decoration names its architecture.
        "amd64": {"decorated": ["USB\\VID_1A86&PID_0064", "USB\\VID_1A86&PID_0065"],
                  "plain_nt": [], "undecorated": [], "rejected": []},
        "x86": {"decorated": ["USB\\VID_1A86&PID_0086", "USB\\VID_1A86&PID_0087"],
                "plain_nt": ["USB\\VID_1A86&PID_00AA"],
                "undecorated": ["USB\\VID_1A86&PID_00BB"], "rejected": []},
    }[decorated]
    for name, data in infs.items():
        (folder / (name + ".inf")).write_bytes(data)
        got = helper(ctx, "hardware-ids", wine_env.windows_path(folder / (name + ".inf")))
        check(got == wanted[name] + ["(end)"], "%s.inf: got %r, want %r" % (name, got, wanted[name]))


@case("win64")
def package_hardware_ids_on_64_bit_windows(ctx):
    package_hardware_ids(ctx, "amd64")


@case("win32")
def package_hardware_ids_on_32_bit_windows(ctx):
    package_hardware_ids(ctx, "x86")
