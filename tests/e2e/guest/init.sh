#!/bin/sh
# The guest's first process. It mounts what Wine needs and the host's work tree at the host's own
# path, then either makes the template prefixes (once, when the image is built) or serves the
# host's requests until the host stops the machine.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH

# The initramfs may have mounted some of these already.
for mount in proc:/proc sysfs:/sys devtmpfs:/dev devpts:/dev/pts tmpfs:/dev/shm tmpfs:/run \
             tmpfs:/tmp; do
  mkdir -p "${mount#*:}"
  mountpoint -q "${mount#*:}" || mount -t "${mount%%:*}" "${mount%%:*}" "${mount#*:}"
done
hostname qz-wine-guest

mode=serve
work=
agent=
for word in $(cat /proc/cmdline); do
  case "$word" in
    qz.mode=*) mode=${word#qz.mode=} ;;
    qz.work=*) work=${word#qz.work=} ;;
    qz.agent=*) agent=${word#qz.agent=} ;;
  esac
done

stop() {
  sync
  echo o >/proc/sysrq-trigger
  sleep 60
}

ip link set lo up
if [ "$mode" = serve ]; then
  ip addr add 10.0.2.15/24 dev eth0
  ip link set eth0 up
fi

if [ "$mode" = serve ]; then
  # The work tree over virtiofs: each open gets the file as the host, or another request, last
  # wrote it (close-to-open), and Wine maps programs from it through the page cache.
  modprobe virtiofs
  mkdir -p "$work"
  mount -t virtiofs work "$work"
  # The boot's secret, which the agent asks of every request.
  modprobe qemu_fw_cfg
fi

export HOME=/root LANG=C.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$mode" in
  prepare)
    # Template prefixes on the guest's own disk: a prefix is later a copy of one of these.
    for arch in win32 win64; do
      rm -rf "/var/lib/qz/templates/$arch"
      mkdir -p /var/lib/qz/templates
      WINEPREFIX="/var/lib/qz/templates/$arch" WINEARCH=$arch wineboot -i >/dev/null 2>&1 &&
        WINEPREFIX="/var/lib/qz/templates/$arch" wineserver -w &&
        [ -f "/var/lib/qz/templates/$arch/system.reg" ] &&
        echo "qz-template $arch made" >/dev/console ||
        echo "qz-template $arch failed" >/dev/console
    done
    stop
    ;;
  *)
    export QZ_INSIDE_WINE_GUEST=1
    python3 "$agent" 7000 >/dev/console 2>&1
    echo "qz-agent ended" >/dev/console
    stop
    ;;
esac
