package quarnel.frontend;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * The library's report (docs/front-end.md) in words: what became of each
 * device, the trace of a dry run's checks, what the device answered, and
 * hints for the mistakes people make most. Devices are numbered from 1.
 */
final class ReportText {
    private ReportText() {
    }

    /** Each device as the last of `reports` that wrote it, or else the last report, left it. */
    static List<Map<String, Object>> devices(List<Map<String, Object>> reports) {
        Map<Long, Map<String, Object>> byNumber = new TreeMap<>();
        for (Map<String, Object> report : reports) {
            for (Object o : Json.list(report.get("devices"))) {
                Map<String, Object> d = Json.object(o);
                Map<String, Object> before = byNumber.get(Json.number(d, "number", 0));
                if (before == null || !Json.text(before, "outcome").equals("written")) {
                    byNumber.put(Json.number(d, "number", 0), d);
                }
            }
        }
        return new ArrayList<>(byNumber.values());
    }

    /** Numbers of the devices written (or that a dry run would write). */
    static List<Long> written(List<Map<String, Object>> devices) {
        List<Long> numbers = new ArrayList<>();
        for (Map<String, Object> d : devices) {
            String outcome = Json.text(d, "outcome");
            if (outcome.equals("written") || outcome.equals("would be written")) numbers.add(Json.number(d, "number", 0));
        }
        return numbers;
    }

    static String device(Map<String, Object> d) {
        String name = Json.text(d, "name"), type = Json.text(d, "type");
        String label = name.isEmpty() && type.isEmpty() ? ""
                     : " (" + name + (name.isEmpty() || type.isEmpty() ? "" : ", ") + type + ")";
        return "device " + Json.number(d, "number", 0) + label;
    }

    /** One line per device: what became of it, and why. */
    static List<String> outcomes(List<Map<String, Object>> devices) {
        List<String> lines = new ArrayList<>();
        for (Map<String, Object> d : devices) {
            String outcome = Json.text(d, "outcome");
            StringBuilder s = new StringBuilder(device(d)).append(": ").append(outcome);
            if (outcome.equals("written")) {
                s.append(", ").append(Json.text(d, "bytes")).append(" bytes");
                long packages = Json.number(d, "packages", 0);
                if (packages > 0) s.append(" in ").append(packages).append(packages == 1 ? " package" : " packages");
                if (!Json.text(d, "transfer").isEmpty()) s.append(" (").append(Json.text(d, "transfer")).append(")");
            } else if (outcome.equals("failed")) {
                s.append(": result ").append(Json.text(d, "result"));
                if (d.containsKey("deviceError")) s.append(", device error ").append(Json.text(d, "deviceError"));
            } else if (!Json.text(d, "reason").isEmpty()) {
                s.append(": ").append(reason(d));
            } else if (outcome.equals("not reached")) {
                s.append(" (the download stopped before it)");
            }
            lines.add(s.toString());
        }
        return lines;
    }

    private static String reason(Map<String, Object> d) {
        switch (Json.text(d, "reason")) {
            case "constraints": {
                for (Object o : Json.list(d.get("constraints"))) {
                    Map<String, Object> c = Json.object(o);
                    if (!Json.flag(c, "holds")) return "its constraints do not hold: " + constraint(c);
                }
                return "its constraints do not hold";
            }
            case "skip": return "left out (--skip, or done in the first call)";
            case "only": return "left out (--only names another device)";
            case "application mode":
                return "the device has no application yet: only the APP device is loaded first";
            default: return Json.text(d, "reason");
        }
    }

    static String constraint(Map<String, Object> c) {
        String read = Json.flag(c, "answered") ? "\"" + Json.text(c, "read") + "\"" : "no answer";
        return Json.text(c, "name") + " is " + read + ", wanted " + Json.text(c, "operator") + " \""
            + Json.text(c, "expected") + "\"";
    }

    /** The dry run's checks in order, one line each. */
    static List<String> trace(Map<String, Object> report) {
        List<String> lines = new ArrayList<>();
        for (Object o : Json.list(report.get("files"))) {
            Map<String, Object> f = Json.object(o);
            lines.add(Json.text(f, "role") + " " + Json.text(f, "path") + ": " + Json.text(f, "state"));
        }
        for (Object o : Json.list(report.get("checks"))) {
            Map<String, Object> c = Json.object(o);
            if (Json.text(c, "check").equals("access")) continue;  // the result line says it
            StringBuilder s = new StringBuilder(String.format("%-15s", Json.text(c, "check")));
            if (!Json.text(c, "name").isEmpty()) s.append(Json.text(c, "name")).append(' ');
            s.append("read \"").append(Json.text(c, "read")).append("\", wanted ").append(Json.text(c, "expected"));
            s.append(": ").append(Json.flag(c, "passed") ? "passed" : "FAILED");
            if (!Json.text(c, "note").isEmpty()) s.append(" (").append(Json.text(c, "note")).append(')');
            lines.add(s.toString());
        }
        for (Object o : Json.list(report.get("devices"))) {
            Map<String, Object> d = Json.object(o);
            List<Object> constraints = Json.list(d.get("constraints"));
            if (d.containsKey("constraints") && constraints.isEmpty()) lines.add(device(d) + ": no constraints");
            for (Object co : constraints) {
                Map<String, Object> c = Json.object(co);
                lines.add(device(d) + ": constraint " + Json.text(c, "number") + ": " + constraint(c) + ": "
                          + (Json.flag(c, "holds") ? "holds" : "does not hold"));
            }
        }
        return lines;
    }

    /** What the device said to the failed step, or "" when nothing is known. */
    static String deviceAnswer(Map<String, Object> report) {
        Map<String, Object> a = Json.object(report.get("deviceAnswer"));
        String command = Json.text(a, "command");
        switch (Json.text(a, "answer")) {
            case "error":
                long code = Json.number(a, "code", 0);
                return "the device answered " + command + " with its error " + code
                    + String.format(" (sFA %X)", code);
            case "silent":
                return "the device did not answer " + command + " within "
                    + (Json.number(a, "waitedMs", 0) + 500) / 1000 + " s";
            default:
                return "";
        }
    }

    /** Hints for the usual mistakes behind a report; `ident` is what the device said at connect. */
    static List<String> hints(Map<String, Object> report, String ident, String login) {
        Map<String, String> hints = new LinkedHashMap<>();
        for (Object o : Json.list(report.get("files"))) {
            Map<String, Object> f = Json.object(o);
            String role = Json.text(f, "role"), path = Json.text(f, "path");
            switch (Json.text(f, "state")) {
                case "missing": hints.put(role, "the " + role + " " + path + " does not exist"); break;
                case "unreadable": case "not a file": hints.put(role, "the " + role + " " + path + " cannot be read"); break;
                case "plain":
                    hints.put(role, "the " + role + " " + path + " is not compressed: korvo compress " + path + " "
                              + path.replaceAll("\\.[^./]*$", "") + (role.equals("key file") ? ".key" : ".cfg")
                              + " makes the file the library reads");
                    break;
                default:
            }
        }
        for (Object o : Json.list(report.get("checks"))) {
            Map<String, Object> c = Json.object(o);
            if (Json.flag(c, "passed")) continue;
            String read = Json.text(c, "read"), expected = Json.text(c, "expected");
            switch (Json.text(c, "check")) {
                case "version":
                    hints.put("version", "the configuration needs downloader version " + read + "; this one is 2.3");
                    break;
                case "key":
                    hints.put("key", "the key file has no entry for the configuration's key \"" + read
                              + "\": is it the key file for this configuration?");
                    break;
                case "identification":
                    hints.put("device", "the device's " + Json.text(c, "name") + " is \"" + read + "\", the key file wants \""
                              + expected + "\": a configuration or key file for another device?");
                    break;
                case "rights":
                    if (expected.startsWith("level ")) {
                        String level = expected.substring(6).split("[ ,]")[0];
                        hints.put("rights", "the device is at " + read + "; the key file grants " + expected
                                  + (login == null ? ": log in with --login " + level + ":PASSWORD"
                                                   : ": log in at " + expected + " (you asked for level "
                                                     + login.substring(0, login.indexOf(':')) + ")"));
                    } else {
                        hints.put("rights", "the key file grants no user level this download");
                    }
                    break;
                default:
            }
        }
        boolean serial = Json.text(report, "channel").equals("serial");
        boolean constraintsOnly = true, anyWritten = false;
        Map<String, Object> unmet = null;
        for (Object o : Json.list(report.get("devices"))) {
            Map<String, Object> d = Json.object(o);
            String outcome = Json.text(d, "outcome"), type = Json.text(d, "dataType");
            if (outcome.equals("failed") && type.equals("BREKBIN") && !serial) {
                hints.put("brekbin", device(d) + " holds BREKBIN data, which reach a device only through the boot loader"
                          + " on the serial line: build it with TavisDevice false and use --device serial:PATH");
            } else if (outcome.equals("failed") && serial && type.equals("BREKBIN")
                       && Json.text(d, "transfer").equals("whole file")) {
                hints.put("brekbin", device(d) + " holds BREKBIN data, which go to the boot loader only with"
                          + " PARTIAL_DOWNLOAD true in its Configuration");
            } else if (outcome.equals("failed") && serial && !type.equals("BREKBIN")) {
                hints.put("serial", "over the serial line (TavisDevice false) only BREKBIN data reach a device;"
                          + " " + device(d) + " holds " + type);
            }
            anyWritten |= outcome.endsWith("written");
            if (!Json.text(d, "reason").equals("constraints") && !Json.text(d, "reason").equals("application mode")) {
                constraintsOnly = false;
            } else if (unmet == null && Json.text(d, "reason").equals("constraints")) {
                for (Object co : Json.list(d.get("constraints"))) {
                    if (!Json.flag(Json.object(co), "holds")) unmet = Json.object(co);
                }
            }
        }
        if (!anyWritten && constraintsOnly && unmet != null && Json.number(report, "result", -1) == 0) {
            hints.put("constraints", ident.equals("No Program")
                ? "the device has no application (\"No Program\"): load it first with korvo-fe first-stage CONFIG"
                : "the configuration's constraints do not match this device (" + constraint(unmet)
                  + "): a configuration for another device?");
        }
        return new ArrayList<>(hints.values());
    }
}
