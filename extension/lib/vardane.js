// Talking to Vardane through its native messaging host, and deciding which
// downloads it takes over. Shared by the background script and the
// extension's own pages, so the menu handlers can be driven from a page too.

// Chromium exposes promise-returning APIs as `chrome`, Firefox as `browser`.
export const api = globalThis.browser ?? globalThis.chrome;

export const HOST = "org.vardane.host";
export const MENU_LINK = "vardane-link";
export const MENU_PAGE = "vardane-page";

export const DEFAULT_OPTIONS = {
  minSizeMB: 5,
  types: "7z apk bz2 deb dmg exe flac gz iso mkv mp3 mp4 msi rar rpm tar tgz xz zip",
};

const HANDED_OVER_SCHEMES = new Set(["http:", "https:", "ftp:"]);

// Only addresses Vardane can fetch are handed over; blob:, data: and file:
// stay with the browser.
export function isTransferable(url) {
  try {
    return HANDED_OVER_SCHEMES.has(new URL(url).protocol);
  } catch {
    return false;
  }
}

export function text(key, ...substitutions) {
  return api.i18n.getMessage(key, substitutions) || key;
}

export async function loadOptions() {
  const stored = await api.storage.local.get(DEFAULT_OPTIONS);
  return { ...DEFAULT_OPTIONS, ...stored };
}

// "a; b" -> the lower-case extensions without dots.
export function parseTypes(types) {
  return new Set(
    String(types)
      .split(/[\s,;]+/)
      .map((t) => t.replace(/^\.+/, "").toLowerCase())
      .filter((t) => t.length > 0),
  );
}

function extensionOf(name) {
  const base = name.split(/[\\/]/).pop() ?? "";
  const dot = base.lastIndexOf(".");
  return dot > 0 ? base.slice(dot + 1).toLowerCase() : "";
}

function baseName(path) {
  return (path ?? "").split(/[\\/]/).pop() ?? "";
}

// A browser download is taken over when it is bigger than the size limit
// (0 switches that rule off) or its file type is listed.
export function wantsDownload(item, options) {
  const url = item.finalUrl || item.url;
  if (!isTransferable(url) || item.byExtensionId) {
    return false;
  }
  const size = item.totalBytes ?? item.fileSize ?? -1;
  const limit = Number(options.minSizeMB) * 1024 * 1024;
  if (limit > 0 && size > limit) {
    return true;
  }
  const types = parseTypes(options.types);
  let path = "";
  try {
    path = decodeURIComponent(new URL(url).pathname);
  } catch {
    path = "";
  }
  return types.has(extensionOf(item.filename || "")) || types.has(extensionOf(path));
}

// The Cookie line the browser would send to url: "name=value; name=value".
export async function cookieLine(url, storeId) {
  const query = { url };
  if (storeId) {
    query.storeId = storeId;
  }
  let cookies = [];
  try {
    cookies = await api.cookies.getAll(query);
  } catch {
    cookies = [];
  }
  return cookies.map((c) => `${c.name}=${c.value}`).join("; ");
}

let lastState = { answered: false, monitor: false, error: "" };

async function showState(state) {
  lastState = state;
  const title = state.answered
    ? text(state.monitor ? "actionAnsweredMonitoring" : "actionAnswered")
    : text("actionNoAnswer", state.error);
  try {
    await api.action.setTitle({ title });
    await api.action.setBadgeText({ text: state.answered ? "" : "!" });
    await api.action.setBadgeBackgroundColor({ color: "#c62828" });
  } catch {
    // An extension page without access to the action keeps the state only.
  }
}

export function hostState() {
  return lastState;
}

// One request to the host; the badge follows whether it answered.
export async function ask(message) {
  let reply;
  try {
    reply = await api.runtime.sendNativeMessage(HOST, message);
  } catch (e) {
    await showState({ answered: false, monitor: false, error: String(e?.message ?? e) });
    throw e;
  }
  if (!reply || typeof reply !== "object") {
    await showState({ answered: false, monitor: false, error: "no reply" });
    throw new Error("no reply");
  }
  await showState({ ...lastState, answered: true, error: "" });
  if (reply.ok !== true) {
    throw new Error(String(reply.error ?? "refused"));
  }
  return reply;
}

export async function checkHost() {
  try {
    const reply = await ask({ type: "settings" });
    await showState({ answered: true, monitor: reply.monitor === true, error: "" });
    return reply.monitor === true;
  } catch {
    return false;
  }
}

// A download request as the host reads it; empty fields are left out.
export async function downloadMessage({ url, referrer, filename, storeId }) {
  const message = { url };
  const cookies = await cookieLine(url, storeId);
  if (cookies) {
    message.cookies = cookies;
  }
  if (referrer && isTransferable(referrer)) {
    message.referrer = referrer;
  }
  if (navigator.userAgent) {
    message.userAgent = navigator.userAgent;
  }
  const name = baseName(filename);
  if (name) {
    message.filename = name;
  }
  return message;
}

export async function handOver(details) {
  return ask(await downloadMessage(details));
}

// Every http, https and ftp link of the page, each once, in page order.
function collectLinks() {
  const seen = new Set();
  const links = [];
  for (const a of document.querySelectorAll("a[href]")) {
    const href = a.href;
    if (/^(https?|ftp):/i.test(href) && !seen.has(href)) {
      seen.add(href);
      links.push(href);
    }
  }
  return links;
}

async function pageLinks(tab) {
  const results = await api.scripting.executeScript({
    target: { tabId: tab.id },
    func: collectLinks,
  });
  const links = results?.[0]?.result;
  return Array.isArray(links) ? links.filter((l) => typeof l === "string" && isTransferable(l)) : [];
}

export async function onMenuClicked(info, tab) {
  if (info.menuItemId === MENU_LINK && info.linkUrl && isTransferable(info.linkUrl)) {
    return handOver({
      url: info.linkUrl,
      referrer: info.frameUrl || info.pageUrl || tab?.url,
      storeId: tab?.cookieStoreId,
    });
  }
  if (info.menuItemId === MENU_PAGE && tab?.id !== undefined) {
    const links = await pageLinks(tab);
    if (links.length === 0) {
      return null;
    }
    return ask({ type: "links", links, referrer: info.pageUrl || tab.url });
  }
  return null;
}

// A download the browser started: when Vardane monitors the browser and the
// file is one it takes, the browser's copy is paused while Vardane is asked,
// then cancelled and removed from the list; if Vardane does not take it the
// browser goes on, so no download is lost.
export async function onDownloadCreated(item) {
  const options = await loadOptions();
  if (!wantsDownload(item, options)) {
    return false;
  }
  try {
    await api.downloads.pause(item.id);
  } catch {
    // Already finished or not pausable: it may still be handed over below.
  }
  let taken = false;
  try {
    if (await checkHost()) {
      await handOver({
        url: item.finalUrl || item.url,
        referrer: item.referrer,
        filename: item.filename,
        storeId: item.cookieStoreId,
      });
      taken = true;
    }
  } catch {
    taken = false;
  }
  if (taken) {
    try {
      await api.downloads.cancel(item.id);
      await api.downloads.erase({ id: item.id });
    } catch {
      // The browser may have finished already; Vardane has the task anyway.
    }
  } else {
    try {
      await api.downloads.resume(item.id);
    } catch {
      // Not paused.
    }
  }
  return taken;
}
