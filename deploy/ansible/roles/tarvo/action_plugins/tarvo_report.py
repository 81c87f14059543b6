"""Reports what the role did for one caller: a line for the log, whether the
host changed, and for --diff the registry, the installed files and the
published variables before and after; or, when the kit failed, its status and
the end of its output. Runs on the control machine only."""
import json

from ansible.plugins.action import ActionBase


def registry(state):
    if not state.get("installed"):
        return "(not installed)\n"
    lines = ["CurrentVersion %s" % (state.get("version") or "")]
    lines += ["%s %s" % (d["caller"], d["version"] or "") for d in state.get("dependants", [])]
    return "\n".join(lines) + "\n"


def files(state):
    return "%s: %d files in files.dat, %d missing\n" % (
        state.get("install_dir") or "(no usable install directory)", state.get("files", 0),
        state.get("missing_files", 0))


def published(state, env):
    lines = ["%s=%s" % kv for kv in sorted(state.get("environment", {}).items())]
    lines.append("published for env=%s: %s" % (env, "yes" if state.get("env_published") else "no"))
    return "\n".join(lines) + "\n"


def newer(version, than):
    try:
        return tuple(int(n) for n in version.split(".")) > tuple(int(n) for n in than.split("."))
    except (AttributeError, ValueError):
        return False


def predicted(before, caller, mode):
    """The registry a successful run would leave; the kit has not run in check mode."""
    mine = [d["caller"].lower() == caller.lower() for d in before.get("dependants", [])]
    others = [d for d, m in zip(before.get("dependants", []), mine) if not m]
    if mode == "install":
        kit = before.get("kit_version")
        dependants = [dict(d, version=kit) if m else d for d, m in zip(before.get("dependants", []), mine)]
        state = dict(before, dependants=dependants if any(mine) else dependants + [{"caller": caller, "version": kit}])
        if not before.get("installed") or newer(kit, before.get("version")):
            state.update(installed=True, version=kit)
        return state
    if mode == "forceremove" or not others:
        return dict(before, installed=False, version=None, dependants=[])
    return dict(before, dependants=others)


def comparable(state):
    return {k: v for k, v in state.items() if k != "kit_version"}


class ActionModule(ActionBase):
    _supports_check_mode = True
    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        args = self._task.args
        before, run, reasons = args["before"], args["run"], args.get("reasons") or []
        caller, mode, env = args["caller"], args["mode"], args["env"]
        check = self._play_context.check_mode
        if run.get("rc", 0) != 0:
            head = "TARVO %s for caller %s failed: %s, exited with status %s. Its output ends:" % (
                mode, caller, args["program"], run["rc"])
            result.update(failed=True, msg=[head] + run.get("stderr_lines", [])[-int(args["lines"]):])
            return result
        # Without a state after a run, the removal took the uninstaller with it.
        after = (json.loads(run["stdout"]) or {"install_dir": before.get("install_dir"), "installed": False}
                 if "stdout" in run else None)
        if check and reasons:
            after = predicted(before, caller, mode)
        after = after or before
        if reasons:
            msg = "TARVO: %s%s for caller %s because %s" % (
                "would run " if check else "ran ", mode, caller, "; ".join(reasons))
        else:
            msg = "TARVO: nothing to do for caller %s" % caller
        dependants = ", ".join("%s %s" % (d["caller"], d["version"] or "") for d in after.get("dependants", []))
        msg += ". %s: %s in %s, dependants: %s" % (
            "Would leave" if check and reasons else "Installed", after.get("version") or "nothing", after.get("install_dir") or "?", dependants or "none")
        # Shown like a debug message, without -v.
        changed = bool(check and reasons) or comparable(after) != comparable(before)
        result.update(_ansible_verbose_always=True, msg=msg, changed=changed)
        after_note = " (predicted: nothing ran in check mode)" if check else ""
        result["diff"] = [{"before_header": name, "after_header": name + after_note,
                           "before": show(before), "after": show(after)}
                          for name, show in (("TARVO registry", registry), ("files.dat", files),
                                             ("published variables", lambda s: published(s, env)))]
        return result
