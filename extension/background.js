// Menus, the browser's downloads and the toolbar button, all wired to
// lib/vardane.js.
import {
  api,
  checkHost,
  MENU_LINK,
  MENU_PAGE,
  onDownloadCreated,
  onMenuClicked,
  text,
} from "./lib/vardane.js";

function createMenus() {
  api.contextMenus.removeAll(() => {
    api.contextMenus.create({ id: MENU_LINK, title: text("menuLink"), contexts: ["link"] });
    api.contextMenus.create({ id: MENU_PAGE, title: text("menuPage"), contexts: ["page"] });
  });
}

api.runtime.onInstalled.addListener(() => {
  createMenus();
  checkHost();
});
api.runtime.onStartup.addListener(() => {
  checkHost();
});

api.contextMenus.onClicked.addListener((info, tab) => {
  onMenuClicked(info, tab).catch(() => {
    // The badge already says that Vardane did not answer.
  });
});

api.downloads.onCreated.addListener((item) => {
  onDownloadCreated(item).catch(() => {});
});

api.action.onClicked.addListener(() => {
  checkHost();
});
